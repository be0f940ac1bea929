#include "core/text_encoding.h"

#include <cstddef>

#include "text_encoding_os.h"

namespace zorvak {
namespace encoding {
namespace {

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

}  // namespace

std::size_t Utf8SequenceLength(std::string_view text, std::size_t pos) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[pos + i]); };
    const std::size_t left = text.size() - pos;
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    unsigned char secondMin = 0x80;
    unsigned char secondMax = 0xBF;
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) secondMin = 0xA0;  // overlong below U+0800
        if (lead == 0xED) secondMax = 0x9F;  // surrogates U+D800..U+DFFF
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) secondMin = 0x90;  // overlong below U+10000
        if (lead == 0xF4) secondMax = 0x8F;  // above U+10FFFF
    } else {
        return 0;  // a continuation byte, C0/C1 (always overlong) or F5..FF
    }
    if (left < length) return 0;
    if (byte(1) < secondMin || byte(1) > secondMax) return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (!IsContinuation(byte(i))) return 0;
    }
    return length;
}

}  // namespace encoding

std::optional<std::string> Utf8ToAnsi(std::string_view utf8) {
    for (std::size_t pos = 0; pos < utf8.size();) {
        const std::size_t length = encoding::Utf8SequenceLength(utf8, pos);
        if (length == 0) return std::nullopt;
        pos += length;
    }

    // ASCII is copied as it is. The rest goes to the converter in short
    // pieces, because each stop at a character the code page cannot hold
    // costs time in proportion to the piece handed over: whole-text calls took
    // 3.7 s instead of 0.1 s for 8 MB of XML with one such character every 45
    // bytes.
    constexpr std::size_t kPieceBytes = 64;
    std::string ansi;
    ansi.reserve(utf8.size());
    encoding::AnsiEncoder encoder;
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        std::size_t end = pos;
        while (end < utf8.size() && static_cast<unsigned char>(utf8[end]) < 0x80) ++end;
        ansi.append(utf8.substr(pos, end - pos));
        pos = end;
        if (pos == utf8.size()) break;
        while (end < utf8.size() && end - pos < kPieceBytes &&
               static_cast<unsigned char>(utf8[end]) >= 0x80) {
            end += encoding::Utf8SequenceLength(utf8, end);
        }
        encoder.Append(utf8.substr(pos, end - pos), ansi);
        pos = end;
    }
    return ansi;
}

std::string AnsiToUtf8(std::string_view ansi) { return encoding::DecodeAnsi(ansi); }

}  // namespace zorvak
