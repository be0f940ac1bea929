#pragma once

#include <string>

#include "core/app_directory.h"

// <windows.h> defines GetProfileString and WriteProfileString as macros that
// rename them to the Win32 functions GetProfileStringA/W and
// WriteProfileStringA/W. The two below are the client's own: a file that
// includes <windows.h> includes it before this header, and the macros go
// here. (The other order does not build: the calls would reach the Win32
// functions, whose arguments differ.)
#undef GetProfileString
#undef WriteProfileString

namespace zorvak {

// Reader and writer of INI ("profile") files that behave like the Windows
// private-profile functions: names compared without case, untouched lines
// kept byte for byte, values trimmed of blanks and of one pair of quotes.
// Strings in and out are UTF-8; the file's bytes are in the client's ANSI code
// page (see core/text_encoding.h).

// Returns the value of key in section, or defaultValue when the file, the
// section or the key is missing or cannot be read. At most 2,047 characters.
std::string GetProfileString(const std::string& path, const std::string& section,
                             const std::string& key, const std::string& defaultValue);

// Writes key=value into section, creating the file and the section as needed.
// False when the write is refused; never throws.
bool WriteProfileString(const std::string& path, const std::string& section,
                        const std::string& key, const std::string& value);

// The client's settings file, dIrovede.ini in the application directory, opened
// for each call; nothing is cached.
class Settings {
public:
    static constexpr const char* kFileName = "dIrovede.ini";
    // The one section every caller uses, and its keys.
    static constexpr const char* kSection = "PLAYLIST";
    static constexpr const char* kKeyword = "KEYWORD";
    static constexpr const char* kRestartTime = "FixTime";
    static constexpr const char* kRestartOn = "FixTimeRestart";
    static constexpr const char* kNoAutoRun = "noautorun";
    static constexpr const char* kExplorer = "EXPLORER";

    explicit Settings(const AppDirectory& dir) : dir_(dir) {}

    // "0" when the file, section or key is missing or the read fails.
    std::string ReadSetting(const std::string& section, const std::string& key) const;
    // False when the write is refused; never throws, shows nothing.
    bool WriteSetting(const std::string& section, const std::string& key,
                      const std::string& value) const;

    std::string FilePath() const;

private:
    const AppDirectory& dir_;
};

template <typename T>
T ChooseValue(bool condition, T whenTrue, T whenFalse) {
    return condition ? whenTrue : whenFalse;
}

}  // namespace zorvak
