// The settings file through POSIX calls: the new content is renamed over the
// old file, and the rename is made durable by syncing the folder.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "settings_file.h"

namespace zorvak::settings_file {
namespace {

bool WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t count = write(fd, bytes.data() + done, bytes.size() - done);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return false;
        done += static_cast<std::size_t>(count);
    }
    return true;
}

// Puts bytes at path in one step: a temporary file in the same folder is
// written, flushed and renamed over the old file. The new file gets keepMode
// when given, else the mode a newly created file gets (0666 less the umask).
bool ReplaceFile(const std::string& path, const std::string& bytes,
                 std::optional<mode_t> keepMode) {
    static std::atomic<unsigned> counter{0};
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = path + ".tmp." + std::to_string(getpid()) + "." + std::to_string(counter++);
        fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;
    bool ok = WriteAll(fd, bytes);
    if (ok && keepMode) ok = fchmod(fd, *keepMode) == 0;
    if (ok) ok = fsync(fd) == 0;
    if (close(fd) != 0) ok = false;
    if (ok) ok = rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) {
        unlink(temporary.c_str());
        return false;
    }
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const int folderFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
        fsync(folderFd);
        close(folderFd);
    }
    return true;
}

}  // namespace

ReadResult ReadWholeFile(const std::string& path, std::string& bytes) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? ReadResult::kMissing : ReadResult::kFailed;
    struct stat info {};
    ReadResult result = ReadResult::kRead;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) result = ReadResult::kFailed;
    char buffer[8192];
    while (result == ReadResult::kRead) {
        const ssize_t count = read(fd, buffer, sizeof buffer);
        if (count > 0) {
            bytes.append(buffer, static_cast<std::size_t>(count));
        } else if (count == 0) {
            break;
        } else if (errno != EINTR) {
            result = ReadResult::kFailed;
        }
    }
    close(fd);
    return result;
}

bool RewriteFile(const std::string& linkOrPath, const Edit& edit) {
    std::string path = linkOrPath;
    struct stat info {};
    if (lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        char resolved[PATH_MAX];
        if (realpath(path.c_str(), resolved) == nullptr) return false;
        path = resolved;
    }

    std::string bytes;
    const ReadResult read = ReadWholeFile(path, bytes);
    if (read == ReadResult::kFailed) return false;
    std::optional<mode_t> keepMode;
    if (read == ReadResult::kRead) {
        // Renaming over a read-only file would succeed; the profile functions refuse.
        if (faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) return false;
        if (stat(path.c_str(), &info) != 0) return false;
        keepMode = info.st_mode & 07777;
    }
    return ReplaceFile(path, edit(read == ReadResult::kRead ? std::optional<std::string>(bytes)
                                                             : std::nullopt),
                       keepMode);
}

}  // namespace zorvak::settings_file
