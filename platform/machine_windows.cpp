#include <ctime>

#include "platform/platform.h"

namespace zorvak {

LocalDateTime SystemClock::Now() const {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_s(&tm, &now);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

// The web engine's sandbox question does not arise on Windows.
bool RunsAsSuperuser() { return false; }

long ProcessRunningFrom(const std::string&, const std::string&) { return 0; }

// Every Windows display driver offers video decoding (DXVA or D3D11VA); the
// player falls back to software decoding where it does not work.
bool HasVideoDecodeDevice() { return true; }

// Every Windows machine the client runs on has a display driver that renders.
bool HasGpuDevice() { return true; }

}  // namespace zorvak
