#include <windows.h>

#include <string>

#include "platform/platform_windows.h"

namespace zorvak {

std::string ExecutablePath() {
    // Grown until the whole path fits: a cut-off path would name another folder.
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD size = static_cast<DWORD>(buffer.size());
        const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), size);
        if (n == 0) return {};
        if (n < size) {
            buffer.resize(n);
            return Utf8FromWide(buffer);
        }
        if (size >= 32768) return {};
        buffer.resize(static_cast<std::size_t>(size) * 2);
    }
}

std::string ExecutableAppDirectory::Path() const {
    std::string exe = ExecutablePath();
    auto sep = exe.find_last_of("\\/");
    return sep == std::string::npos ? std::string(".\\") : exe.substr(0, sep + 1);
}

}  // namespace zorvak
