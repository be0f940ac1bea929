#include "platform/exclusive_file.h"

#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

namespace zorvak {

std::unique_ptr<ExclusiveFile> ExclusiveFile::OpenForAppend(const std::string& path,
                                                            std::size_t bufferSize) {
    std::FILE* f = std::fopen(path.c_str(), "ab");
    if (!f) return nullptr;
    if (::flock(::fileno(f), LOCK_EX | LOCK_NB) != 0) {
        std::fclose(f);
        return nullptr;
    }
    std::setvbuf(f, nullptr, _IOFBF, bufferSize);
    return std::unique_ptr<ExclusiveFile>(new ExclusiveFile(f));
}

ExclusiveFile::~ExclusiveFile() {
    if (file_) std::fclose(file_);  // the lock goes with the descriptor
}

std::uint64_t ExclusiveFile::Size() {
    if (!file_ || std::fflush(file_) != 0) return 0;
    struct stat st {};
    if (::fstat(::fileno(file_), &st) != 0) return 0;
    return static_cast<std::uint64_t>(st.st_size);
}

bool ExclusiveFile::Append(const char* data, std::size_t length) {
    return file_ && std::fwrite(data, 1, length, file_) == length;
}

bool ExclusiveFile::Truncate() {
    if (!file_ || std::fflush(file_) != 0) return false;
    return ::ftruncate(::fileno(file_), 0) == 0;
}

bool ExclusiveFile::Close() {
    std::FILE* f = std::exchange(file_, nullptr);
    return f && std::fclose(f) == 0;
}

}  // namespace zorvak
