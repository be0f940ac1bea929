// The settings file through Win32 calls on UTF-16 paths: the new content is
// moved over the old file with MoveFileExW(MOVEFILE_REPLACE_EXISTING |
// MOVEFILE_WRITE_THROUGH).
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <string>

#include "settings_file.h"

namespace zorvak::settings_file {
namespace {

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int size = static_cast<int>(utf8.size());
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
    if (length <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, wide.data(), length);
    return wide;
}

// An open handle, closed when it goes.
class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle() { Close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    bool ok() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }
    bool Close() {
        const bool closed = !ok() || CloseHandle(handle_) != FALSE;
        handle_ = INVALID_HANDLE_VALUE;
        return closed;
    }

private:
    HANDLE handle_;
};

ReadResult ReadWide(const std::wstring& path, std::string& bytes) {
    if (path.empty()) return ReadResult::kFailed;
    Handle file(CreateFileW(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.ok()) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ReadResult::kMissing
                                                                                : ReadResult::kFailed;
    }
    if (GetFileType(file.get()) != FILE_TYPE_DISK) return ReadResult::kFailed;
    char buffer[8192];
    for (;;) {
        DWORD count = 0;
        if (!ReadFile(file.get(), buffer, sizeof buffer, &count, nullptr)) return ReadResult::kFailed;
        if (count == 0) break;
        bytes.append(buffer, count);
    }
    return ReadResult::kRead;
}

// The path a link at path leads to ("\\?\" form); path itself when it is no
// link; "" when the link cannot be followed.
std::wstring FollowLink(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return path;
    Handle file(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.ok()) return {};
    wchar_t target[32768];
    const DWORD length = GetFinalPathNameByHandleW(file.get(), target, 32768, FILE_NAME_NORMALIZED);
    if (length == 0 || length >= 32768) return {};
    return std::wstring(target, length);
}

bool WriteAll(HANDLE file, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
        DWORD written = 0;
        if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0)
            return false;
        done += written;
    }
    return true;
}

// The attributes a replaced file hands on to its successor.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

bool ReplaceFile(const std::wstring& path, const std::string& bytes, DWORD attributes) {
    static std::atomic<unsigned> counter{0};
    std::wstring temporary;
    HANDLE created = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && created == INVALID_HANDLE_VALUE; ++attempt) {
        temporary = path + L".tmp." + std::to_wstring(GetCurrentProcessId()) + L"." +
                    std::to_wstring(counter++);
        created = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
        if (created == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) return false;
    }
    Handle file(created);
    if (!file.ok()) return false;
    bool ok = WriteAll(file.get(), bytes);
    if (ok) ok = FlushFileBuffers(file.get()) != FALSE;
    if (!file.Close()) ok = false;
    if (ok && attributes != 0) ok = SetFileAttributesW(temporary.c_str(), attributes) != FALSE;
    if (ok) {
        ok = MoveFileExW(temporary.c_str(), path.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
    }
    if (!ok) {
        SetFileAttributesW(temporary.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(temporary.c_str());
    }
    return ok;
}

}  // namespace

ReadResult ReadWholeFile(const std::string& path, std::string& bytes) {
    return ReadWide(Wide(path), bytes);
}

bool RewriteFile(const std::string& linkOrPath, const Edit& edit) {
    const std::wstring path = FollowLink(Wide(linkOrPath));
    if (path.empty()) return false;

    std::string bytes;
    const ReadResult read = ReadWide(path, bytes);
    if (read == ReadResult::kFailed) return false;
    DWORD keep = 0;
    if (read == ReadResult::kRead) {
        // Moving over a read-only file may succeed; the profile functions refuse.
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY))
            return false;
        keep = attributes & kKeptAttributes;
    }
    return ReplaceFile(path, edit(read == ReadResult::kRead ? std::optional<std::string>(bytes)
                                                             : std::nullopt),
                       keep);
}

}  // namespace zorvak::settings_file
