#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace zorvak {

// A time of day to the second, without a date.
struct TimeOfDay {
    int hour = 0;
    int minute = 0;
    int second = 0;

    bool operator==(const TimeOfDay&) const = default;
};

// Raised when a text does not convert to a time of day. The message reads
// "'<text>' is not a valid time".
class TimeFormatError : public std::runtime_error {
public:
    explicit TimeFormatError(const std::string& text);
};

// The long time format of the user's locale, used to store the restart time
// and to compare it with the clock.
//   Linux:   "H:mm:ss" (hour without a leading zero), e.g. "3:00:00".
//   Windows: the user locale's long time format (GetTimeFormatEx).
std::string FormatLongTime(const TimeOfDay& time);

// Reads a time of day the way the locale's text-to-time conversion does; it
// accepts everything FormatLongTime writes and is lenient beyond that (see
// ScanTime). Throws TimeFormatError for anything else.
TimeOfDay ParseLongTime(const std::string& text);

// The lenient reader behind ParseLongTime, shared by every OS:
//   [marker] h [sep mm [sep ss [.fff]]] [marker]
// with blanks allowed around each part. Fields are runs of digits; hour 0-23,
// minute and second 0-59, the fraction (milliseconds, 0-999) is dropped. A
// marker is amText/"AM" or pmText/"PM" (letters a-z without case); with a
// marker the hour must be 1-12 and 12 means noon or midnight. Empty marker
// texts are not looked for. nullopt when the whole text is not of this form.
std::optional<TimeOfDay> ScanTime(std::string_view text, std::string_view separator,
                                  std::string_view amText, std::string_view pmText);

}  // namespace zorvak
