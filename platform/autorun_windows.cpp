#include <windows.h>

#include <string>

#include "core/product_texts.h"
#include "platform/platform.h"

namespace zorvak {

namespace {

std::wstring ToWide(const std::string& utf8) {
    int len = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    if (len <= 1) return {};
    std::wstring out(static_cast<size_t>(len), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, out.data(), len);
    out.resize(static_cast<size_t>(len - 1));
    return out;
}

// The current user's Run key, value texts::kAutoRunName (REG_SZ) holding the
// executable's full path without quotes; the key is created when missing and
// the value overwritten. Every failure is silent.
class RegistryAutoRun final : public AutoRun {
public:
    void RegisterAutoRun() override {
        HKEY key = nullptr;
        try {
            if (RegCreateKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run",
                                0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                nullptr) == ERROR_SUCCESS) {
                std::wstring path = ToWide(ExecutablePath());
                const std::wstring name = ToWide(texts::kAutoRunName);
                RegSetValueExW(key, name.c_str(), 0, REG_SZ,
                               reinterpret_cast<const BYTE*>(path.c_str()),
                               static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
            }
        } catch (...) {
        }
        if (key) RegCloseKey(key);
    }
};

}  // namespace

std::unique_ptr<AutoRun> CreateAutoRun() { return std::make_unique<RegistryAutoRun>(); }

}  // namespace zorvak
