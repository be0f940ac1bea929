#include "platform/file_name.h"

#include <string>

namespace zorvak {
namespace {

std::string UpperAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

// The device names Windows opens whatever folder they are asked for in.
bool IsDeviceName(std::string_view upper) {
    static constexpr std::string_view kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (std::string_view device : kDevices)
        if (upper == device) return true;
    if (upper.size() < 4) return false;
    const std::string_view stem = upper.substr(0, 3);
    if (stem != "COM" && stem != "LPT") return false;
    const std::string_view number = upper.substr(3);
    // 1-9, or ¹ ² ³ (U+00B9, U+00B2, U+00B3) in UTF-8.
    return (number.size() == 1 && number[0] >= '1' && number[0] <= '9') ||
           number == "\xC2\xB9" || number == "\xC2\xB2" || number == "\xC2\xB3";
}

}  // namespace

bool IsWindowsFileName(std::string_view name) {
    if (name.empty()) return false;
    for (const char c : name) {
        if (static_cast<unsigned char>(c) < 32) return false;
        if (std::string_view("<>:\"/\\|?*").find(c) != std::string_view::npos) return false;
    }
    if (name.back() == '.' || name.back() == ' ') return false;
    // The device name is what comes before the first dot, blanks at its end
    // not counted.
    std::string_view base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
    return !IsDeviceName(UpperAscii(base));
}

}  // namespace zorvak
