// The settings reader and writer over any file content. Beyond not crashing:
// a value written is read back as written, and writing one key leaves every
// other key's value as it was.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "core/app_directory.h"
#include "core/settings.h"
#include "fuzz_support.h"

namespace {

using namespace zorvak;

const std::vector<std::pair<std::string, std::string>> kKeys = {
    {Settings::kSection, Settings::kRestartTime}, {Settings::kSection, Settings::kRestartOn},
    {Settings::kSection, Settings::kNoAutoRun},   {Settings::kSection, Settings::kExplorer},
    {"playlist", "keyword2"},                     {"Other", Settings::kKeyword},
    {"", "x"},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const FixedAppDirectory dir(fuzz::ScratchFolder());
    const Settings settings(dir);
    {
        std::ofstream out(settings.FilePath(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    std::vector<std::string> before;
    for (const auto& [section, key] : kKeys) before.push_back(settings.ReadSetting(section, key));
    settings.ReadSetting(Settings::kSection, Settings::kKeyword);

    const std::string value = "shop 广告 42";
    if (settings.WriteSetting(Settings::kSection, Settings::kKeyword, value)) {
        if (settings.ReadSetting(Settings::kSection, Settings::kKeyword) != value) std::abort();
        for (std::size_t i = 0; i < kKeys.size(); ++i)
            if (settings.ReadSetting(kKeys[i].first, kKeys[i].second) != before[i]) std::abort();
    }
    return 0;
}
