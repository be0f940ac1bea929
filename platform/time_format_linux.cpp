#include <cstdio>

#include "platform/time_format.h"

namespace zorvak {

// The zh-CN long time format "H:mm:ss": no leading zero on the hour.
std::string FormatLongTime(const TimeOfDay& time) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%d:%02d:%02d", time.hour, time.minute, time.second);
    return buf;
}

// zh-CN morning and afternoon markers ("上午", "下午") besides AM and PM.
TimeOfDay ParseLongTime(const std::string& text) {
    if (auto time = ScanTime(text, ":", "上午", "下午"))
        return *time;
    throw TimeFormatError(text);
}

}  // namespace zorvak
