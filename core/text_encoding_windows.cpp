// The ANSI code page of the system (GetACP): code page 936 (GBK) on the
// Chinese Windows the client is made for. Conversions go through UTF-16 with
// MultiByteToWideChar and WideCharToMultiByte.
#include <windows.h>

#include <optional>
#include <string>

#include "core/text_encoding.h"
#include "text_encoding_os.h"

namespace zorvak {
namespace encoding {
namespace {

// Appends the UTF-8 form of wide to out.
void AppendUtf8(const std::wstring& wide, std::string& out) {
    if (wide.empty()) return;
    const int size = static_cast<int>(wide.size());
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return;
    const std::size_t at = out.size();
    out.resize(at + static_cast<std::size_t>(length));
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, out.data() + at, length, nullptr, nullptr);
}

// text in the code page to UTF-16; nullopt when a byte sequence of it is not
// defined there.
std::optional<std::wstring> Widen(UINT codePage, std::string_view text) {
    if (text.empty()) return std::wstring();
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (length <= 0) return std::nullopt;
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), length);
    return wide;
}

// Appends characters of the Basic Multilingual Plane, given in UTF-8, in the
// code page: WC_NO_BEST_FIT_CHARS turns each one the code page does not hold
// into the default character "?", instead of a look-alike.
void AppendBmpRun(UINT codePage, std::string_view utf8, std::string& out) {
    const std::optional<std::wstring> wide = Widen(CP_UTF8, utf8);
    if (!wide || wide->empty()) return;
    const int size = static_cast<int>(wide->size());
    BOOL usedDefault = FALSE;
    const int length = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide->data(), size,
                                           nullptr, 0, "?", &usedDefault);
    if (length <= 0) {
        out.append(wide->size(), '?');
        return;
    }
    const std::size_t at = out.size();
    out.resize(at + static_cast<std::size_t>(length));
    WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide->data(), size, out.data() + at, length,
                        "?", &usedDefault);
}

}  // namespace

struct AnsiEncoder::State {
    UINT codePage = GetACP();
};

AnsiEncoder::AnsiEncoder() : state_(std::make_unique<State>()) {}
AnsiEncoder::~AnsiEncoder() = default;

void AnsiEncoder::Append(std::string_view run, std::string& out) {
    const UINT codePage = state_->codePage;
    // With the UTF-8 code page (a Windows option) every character is held.
    if (codePage == CP_UTF8) {
        out.append(run);
        return;
    }
    // No ANSI code page holds a character beyond U+FFFF; handed to
    // WideCharToMultiByte as a surrogate pair it would become two "?".
    std::size_t start = 0;
    std::size_t pos = 0;
    while (pos < run.size()) {
        const std::size_t length = Utf8SequenceLength(run, pos);
        if (length == 0) break;  // not reached: the run is well-formed
        if (length == 4) {
            AppendBmpRun(codePage, run.substr(start, pos - start), out);
            out += '?';
            start = pos + length;
        }
        pos += length;
    }
    AppendBmpRun(codePage, run.substr(start), out);
}

bool IsAnsiLeadByte(unsigned char byte) { return IsDBCSLeadByteEx(GetACP(), byte) != FALSE; }

std::string DecodeAnsi(std::string_view ansi) {
    const UINT codePage = GetACP();
    std::string utf8;
    utf8.reserve(ansi.size() + ansi.size() / 2);
    // The whole text at once when every byte sequence is defined.
    if (const std::optional<std::wstring> wide = Widen(codePage, ansi)) {
        AppendUtf8(*wide, utf8);
        return utf8;
    }
    // Else one character at a time: a sequence the code page does not define
    // becomes U+FFFD and decoding goes on at its next byte.
    std::size_t pos = 0;
    while (pos < ansi.size()) {
        std::size_t length = 1;
        if (codePage == CP_UTF8) {
            length = Utf8SequenceLength(ansi, pos);
            if (length == 0) length = 1;
        } else if (IsDBCSLeadByteEx(codePage, static_cast<BYTE>(ansi[pos]))) {
            if (pos + 1 == ansi.size()) {  // a lead byte cut off at the end
                utf8 += kReplacementCharacter;
                break;
            }
            length = 2;
        }
        if (const std::optional<std::wstring> wide = Widen(codePage, ansi.substr(pos, length))) {
            AppendUtf8(*wide, utf8);
            pos += length;
        } else {
            utf8 += kReplacementCharacter;
            ++pos;
        }
    }
    return utf8;
}

}  // namespace encoding

const char* AnsiCodePageName() {
    static const std::string name = [] {
        const UINT codePage = GetACP();
        return codePage == 936 ? std::string("GBK") : "CP" + std::to_string(codePage);
    }();
    return name.c_str();
}

}  // namespace zorvak
