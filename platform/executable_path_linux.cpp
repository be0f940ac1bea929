#include <unistd.h>

#include <climits>
#include <string>

#include "platform/platform.h"

namespace zorvak {

std::string ExecutablePath() {
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    return std::string(buf, static_cast<size_t>(n));
}

std::string ExecutableAppDirectory::Path() const {
    std::string exe = ExecutablePath();
    auto slash = exe.find_last_of('/');
    return slash == std::string::npos ? std::string("./") : exe.substr(0, slash + 1);
}

}  // namespace zorvak
