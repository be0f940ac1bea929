#include <windows.h>

#include <string>

#include "core/product_texts.h"
#include "platform/platform_windows.h"

namespace zorvak {

std::wstring WideFromUtf8(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int size = static_cast<int>(utf8.size());
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
    if (length <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, wide.data(), length);
    return wide;
}

std::string Utf8FromWide(const std::wstring& wide) {
    if (wide.empty()) return {};
    const int size = static_cast<int>(wide.size());
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return {};
    std::string utf8(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), length, nullptr, nullptr);
    return utf8;
}

void RegistryAutoRun::RegisterAutoRun() {
    HKEY key = nullptr;
    try {
        if (RegCreateKeyExW(root_, kRunKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) ==
            ERROR_SUCCESS) {
            const std::wstring path = WideFromUtf8(executablePath_());
            const std::wstring name = WideFromUtf8(texts::kAutoRunName);
            if (!path.empty() && !name.empty()) {
                RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                               static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
            }
        }
    } catch (...) {
    }
    if (key) RegCloseKey(key);
}

std::unique_ptr<AutoRun> CreateAutoRun() { return std::make_unique<RegistryAutoRun>(); }

}  // namespace zorvak
