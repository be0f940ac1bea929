#pragma once

// The operating-system half of core/text_encoding.h: the conversions between
// UTF-8 and the ANSI code page, behind one small interface with an
// implementation per OS (text_encoding_linux.cpp, text_encoding_windows.cpp).
// Used by the core library only.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace zorvak::encoding {

// Length of the well-formed UTF-8 sequence starting at text[pos], or 0 when it
// is cut off, has a bad continuation byte, is an overlong form, encodes a
// surrogate or lies above U+10FFFF.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t pos);

// UTF-8 to the ANSI code page, for the span of one conversion.
class AnsiEncoder {
public:
    AnsiEncoder();
    ~AnsiEncoder();
    AnsiEncoder(const AnsiEncoder&) = delete;
    AnsiEncoder& operator=(const AnsiEncoder&) = delete;

    // Appends the ANSI form of run to out. run is well-formed UTF-8 made of
    // whole characters; every character the code page cannot hold becomes one
    // "?".
    void Append(std::string_view run, std::string& out);

private:
    struct State;
    std::unique_ptr<State> state_;
};

// ANSI code page bytes to UTF-8; a byte sequence the code page does not define
// becomes U+FFFD, and a lead byte cut off at the end does too.
std::string DecodeAnsi(std::string_view ansi);

// Whether byte starts a double-byte character of the ANSI code page.
bool IsAnsiLeadByte(unsigned char byte);

inline constexpr const char* kReplacementCharacter = "\xEF\xBF\xBD";  // U+FFFD

}  // namespace zorvak::encoding
