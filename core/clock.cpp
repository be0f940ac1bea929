#include "core/clock.h"

#include <cstdio>

namespace zorvak {

namespace {

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

std::string Format(const LocalDateTime& t, char dateSep) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d%c%02d%c%02d %02d:%02d:%02d", t.year, dateSep, t.month,
                  dateSep, t.day, t.hour, t.minute, t.second);
    return buf;
}

}  // namespace

bool LocalDateTime::IsValid() const {
    return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
           day <= DaysInMonth(year, month) && hour >= 0 && hour <= 23 && minute >= 0 &&
           minute <= 59 && second >= 0 && second <= 59;
}

std::string LocalDateTime::ToSortableText() const { return Format(*this, '-'); }

std::string LocalDateTime::ToDisplayText() const { return Format(*this, '/'); }

std::optional<LocalDateTime> LocalDateTime::FromSortableText(std::string_view text) {
    if (text.size() != 19) return std::nullopt;
    LocalDateTime t;
    std::string s(text);
    char tail = 0;
    if (std::sscanf(s.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &t.year, &t.month, &t.day, &t.hour,
                    &t.minute, &t.second, &tail) != 6)
        return std::nullopt;
    if (!t.IsValid()) return std::nullopt;
    return t;
}

}  // namespace zorvak
