#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zorvak {

// The client's ANSI code page, by name. Linux: always "GBK", code page 936,
// converted with iconv. Windows: the system's ANSI code page (GetACP), "GBK"
// for 936 as on the Chinese Windows the client is made for, else "CP" and its
// number.
const char* AnsiCodePageName();

// Strict UTF-8 decoding followed by conversion to the ANSI code page; every
// character the code page cannot hold becomes one "?". nullopt when the input
// is not valid UTF-8 (a cut-off sequence, a bad continuation byte, an overlong
// form or a surrogate).
std::optional<std::string> Utf8ToAnsi(std::string_view utf8);

// ANSI code page bytes to UTF-8. A byte sequence the code page does not
// define becomes U+FFFD.
std::string AnsiToUtf8(std::string_view ansi);

}  // namespace zorvak
