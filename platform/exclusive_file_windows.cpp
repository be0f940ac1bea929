#include "platform/exclusive_file.h"

#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <filesystem>
#include <string>
#include <utility>

namespace zorvak {

std::unique_ptr<ExclusiveFile> ExclusiveFile::OpenForAppend(const std::string& path,
                                                            std::size_t bufferSize) {
    // The path is UTF-8; the wide-character open reaches every name.
    const std::filesystem::path wide(std::u8string(path.begin(), path.end()));
    // Share mode "deny read and write": every other open of the file fails,
    // in this process as in any other, until it is closed.
    std::FILE* f = _wfsopen(wide.c_str(), L"ab", _SH_DENYRW);
    if (!f) return nullptr;
    std::setvbuf(f, nullptr, _IOFBF, bufferSize);
    return std::unique_ptr<ExclusiveFile>(new ExclusiveFile(f));
}

ExclusiveFile::~ExclusiveFile() {
    if (file_) std::fclose(file_);
}

std::uint64_t ExclusiveFile::Size() {
    if (!file_ || std::fflush(file_) != 0) return 0;
    struct _stat64 st {};
    if (_fstat64(_fileno(file_), &st) != 0) return 0;
    return static_cast<std::uint64_t>(st.st_size);
}

bool ExclusiveFile::Append(const char* data, std::size_t length) {
    return file_ && std::fwrite(data, 1, length, file_) == length;
}

bool ExclusiveFile::Truncate() {
    if (!file_ || std::fflush(file_) != 0) return false;
    return _chsize_s(_fileno(file_), 0) == 0;
}

bool ExclusiveFile::Close() {
    std::FILE* f = std::exchange(file_, nullptr);
    return f && std::fclose(f) == 0;
}

}  // namespace zorvak
