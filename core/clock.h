#pragma once

#include <compare>
#include <optional>
#include <string>
#include <string_view>

namespace zorvak {

// A wall-clock date and time in the machine's local time, to the second.
struct LocalDateTime {
    int year = 1899;
    int month = 12;
    int day = 30;
    int hour = 0;
    int minute = 0;
    int second = 0;

    auto operator<=>(const LocalDateTime&) const = default;

    // "YYYY-MM-DD HH:MM:SS": sorts and compares as the date-time does.
    std::string ToSortableText() const;
    // "YYYY/MM/DD HH:MM:SS", as the operator reads dates.
    std::string ToDisplayText() const;
    // Reads what ToSortableText() writes; nullopt for anything else.
    static std::optional<LocalDateTime> FromSortableText(std::string_view text);
    // True when the fields name a real calendar date and time of day.
    bool IsValid() const;
};

// Where the date and time of day come from. The machine's clock is
// SystemClock (platform/platform.h).
class Clock {
public:
    virtual ~Clock() = default;
    virtual LocalDateTime Now() const = 0;
};

// A clock that says what it is told; for tests and rigs.
class SettableClock final : public Clock {
public:
    explicit SettableClock(LocalDateTime now = {2024, 1, 1, 12, 0, 0}) : now_(now) {}
    LocalDateTime Now() const override { return now_; }
    void Set(LocalDateTime now) { now_ = now; }

private:
    LocalDateTime now_;
};

}  // namespace zorvak
