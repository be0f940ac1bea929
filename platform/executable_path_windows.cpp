#include <windows.h>

#include <string>

#include "platform/platform.h"

namespace zorvak {

std::string ExecutablePath() {
    wchar_t buf[MAX_PATH * 4];
    DWORD n = GetModuleFileNameW(nullptr, buf, static_cast<DWORD>(std::size(buf)));
    if (n == 0) return {};
    int len = WideCharToMultiByte(CP_UTF8, 0, buf, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(len), '\0');
    WideCharToMultiByte(CP_UTF8, 0, buf, static_cast<int>(n), out.data(), len, nullptr, nullptr);
    return out;
}

std::string ExecutableAppDirectory::Path() const {
    std::string exe = ExecutablePath();
    auto sep = exe.find_last_of("\\/");
    return sep == std::string::npos ? std::string(".\\") : exe.substr(0, sep + 1);
}

}  // namespace zorvak
