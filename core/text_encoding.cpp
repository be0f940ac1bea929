#include "core/text_encoding.h"

#include <iconv.h>

#include <cerrno>
#include <cstddef>

namespace zorvak {
namespace {

constexpr const char* kUtf8 = "UTF-8";
constexpr const char* kReplacementCharacter = "\xEF\xBF\xBD";  // U+FFFD

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Length of the well-formed UTF-8 sequence starting at text[pos], or 0 when it
// is cut off, has a bad continuation byte, is an overlong form, encodes a
// surrogate or lies above U+10FFFF.
std::size_t SequenceLength(std::string_view text, std::size_t pos) {
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

// One iconv conversion descriptor for the span of one call.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (ok()) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts as much of [in, in + inLeft) as it can, appending to out. Stops
    // at the first byte sequence it cannot convert; returns errno then (0 when
    // everything was converted).
    int Convert(const char*& in, std::size_t& inLeft, std::string& out) {
        char buffer[4096];
        while (inLeft > 0) {
            char* inPtr = const_cast<char*>(in);
            char* outPtr = buffer;
            std::size_t outLeft = sizeof buffer;
            const std::size_t result = iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft);
            const int error = result == static_cast<std::size_t>(-1) ? errno : 0;
            out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
            in = inPtr;
            if (error != 0 && error != E2BIG) return error;
        }
        return 0;
    }

private:
    iconv_t cd_;
};

}  // namespace

const char* AnsiCodePageName() { return "GBK"; }

std::optional<std::string> Utf8ToAnsi(std::string_view utf8) {
    for (std::size_t pos = 0; pos < utf8.size();) {
        const std::size_t length = SequenceLength(utf8, pos);
        if (length == 0) return std::nullopt;
        pos += length;
    }

    // ASCII is copied as it is. The rest goes through iconv in short pieces,
    // because each stop at a character iconv cannot convert costs time in
    // proportion to the piece handed to it: whole-text calls took 3.7 s instead
    // of 0.1 s for 8 MB of XML with one such character every 45 bytes.
    constexpr std::size_t kPieceBytes = 64;
    std::string ansi;
    ansi.reserve(utf8.size());
    Converter converter(AnsiCodePageName(), kUtf8);
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        std::size_t end = pos;
        while (end < utf8.size() && static_cast<unsigned char>(utf8[end]) < 0x80) ++end;
        ansi.append(utf8.substr(pos, end - pos));
        pos = end;
        if (pos == utf8.size()) break;
        while (end < utf8.size() && end - pos < kPieceBytes &&
               static_cast<unsigned char>(utf8[end]) >= 0x80) {
            end += SequenceLength(utf8, end);
        }
        const char* in = utf8.data() + pos;
        std::size_t inLeft = end - pos;
        while (inLeft > 0) {
            if (converter.ok() && converter.Convert(in, inLeft, ansi) == 0) break;
            // A character the code page cannot hold (every four-byte sequence
            // among them) becomes one "?"; conversion goes on after it.
            ansi += '?';
            const std::size_t length = SequenceLength(std::string_view(in, inLeft), 0);
            in += length;
            inLeft -= length;
        }
        pos = end;
    }
    return ansi;
}

std::string AnsiToUtf8(std::string_view ansi) {
    std::string utf8;
    utf8.reserve(ansi.size() + ansi.size() / 2);
    Converter converter(kUtf8, AnsiCodePageName());
    const char* in = ansi.data();
    std::size_t inLeft = ansi.size();
    while (inLeft > 0) {
        const int error = converter.ok() ? converter.Convert(in, inLeft, utf8) : EILSEQ;
        if (error == 0) break;
        if (error == EILSEQ && static_cast<unsigned char>(*in) < 0x80) {
            utf8 += *in;  // only reached when iconv is unavailable
        } else {
            utf8 += kReplacementCharacter;
        }
        if (error == EINVAL) break;  // a lead byte cut off at the end
        ++in;
        --inLeft;
    }
    return utf8;
}

}  // namespace zorvak
