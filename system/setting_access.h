#pragma once

#include <functional>
#include <string>

namespace zorvak {

class Settings;

// The handlers of this folder read and write keys of the settings section
// "PLAYLIST" through these two callables. ReaderOf and WriterOf bind them to
// the settings file; tests hand in recorders.
using SettingReader = std::function<std::string(const std::string& key)>;
using SettingWriter = std::function<void(const std::string& key, const std::string& value)>;

// Settings::ReadSetting / WriteSetting with the section "PLAYLIST". The
// settings object must outlive the callables.
SettingReader ReaderOf(const Settings& settings);
SettingWriter WriterOf(const Settings& settings);

}  // namespace zorvak
