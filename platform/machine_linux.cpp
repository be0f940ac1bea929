#include <dirent.h>
#include <unistd.h>

#include <ctime>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "platform/platform.h"

namespace zorvak {

long ProcessRunningFrom(const std::string& folder, const std::string& name) {
    std::error_code ec;
    const std::filesystem::path wanted = std::filesystem::weakly_canonical(folder, ec) / name;
    if (ec) return 0;
    std::unique_ptr<DIR, int (*)(DIR*)> proc(::opendir("/proc"), ::closedir);
    if (!proc) return 0;
    while (dirent* entry = ::readdir(proc.get())) {
        const std::string pid = entry->d_name;
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
        char target[4096];
        const ssize_t n = ::readlink(("/proc/" + pid + "/exe").c_str(), target, sizeof target - 1);
        if (n <= 0) continue;
        if (std::string(target, static_cast<std::size_t>(n)) == wanted.string())
            return std::atol(pid.c_str());
    }
    return 0;
}

LocalDateTime SystemClock::Now() const {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

bool RunsAsSuperuser() { return ::geteuid() == 0; }

bool HasVideoDecodeDevice() {
    std::error_code ec;
    return std::filesystem::exists("/dev/dri/renderD128", ec) ||
           std::filesystem::exists("/dev/nvidia0", ec);
}

bool HasGpuDevice() {
    return HasVideoDecodeDevice();
}

}  // namespace zorvak
