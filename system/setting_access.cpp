#include "system/setting_access.h"

#include "core/settings.h"

namespace zorvak {

SettingReader ReaderOf(const Settings& settings) {
    return [&settings](const std::string& key) {
        return settings.ReadSetting(Settings::kSection, key);
    };
}

SettingWriter WriterOf(const Settings& settings) {
    return [&settings](const std::string& key, const std::string& value) {
        settings.WriteSetting(Settings::kSection, key, value);
    };
}

}  // namespace zorvak
