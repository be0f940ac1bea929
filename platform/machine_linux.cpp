#include <unistd.h>

#include <ctime>
#include <filesystem>

#include "platform/platform.h"

namespace zorvak {

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
