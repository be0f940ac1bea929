// The ANSI code page through iconv: GBK, the client's code page 936.
#include <iconv.h>

#include <cerrno>
#include <cstddef>

#include "core/text_encoding.h"
#include "text_encoding_os.h"

namespace zorvak {
namespace encoding {
namespace {

constexpr const char* kUtf8 = "UTF-8";

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

struct AnsiEncoder::State {
    Converter converter{AnsiCodePageName(), kUtf8};
};

AnsiEncoder::AnsiEncoder() : state_(std::make_unique<State>()) {}
AnsiEncoder::~AnsiEncoder() = default;

void AnsiEncoder::Append(std::string_view run, std::string& out) {
    Converter& converter = state_->converter;
    const char* in = run.data();
    std::size_t inLeft = run.size();
    while (inLeft > 0) {
        if (converter.ok() && converter.Convert(in, inLeft, out) == 0) break;
        // A character the code page cannot hold (every four-byte sequence
        // among them) becomes one "?"; conversion goes on after it.
        out += '?';
        const std::size_t length = Utf8SequenceLength(std::string_view(in, inLeft), 0);
        in += length;
        inLeft -= length;
    }
}

bool IsAnsiLeadByte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }

std::string DecodeAnsi(std::string_view ansi) {
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

}  // namespace encoding

const char* AnsiCodePageName() { return "GBK"; }

}  // namespace zorvak
