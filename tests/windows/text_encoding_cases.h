#pragma once

// The cases of the conversions between UTF-8 and the ANSI code page (GBK,
// code page 936) of core/text_encoding.h, one table for both twins: the native
// test (tests/core/text_encoding_test.cpp, iconv) and the Windows checker's
// TextEncoding group (tests/windows/portable_checks.cpp, Win32 under Wine).

#include <string>
#include <utility>

namespace zorvak::check {

inline const std::string kChinese = "\xE4\xB8\xAD\xE6\x96\x87";  // 中文 in UTF-8
inline const std::string kChineseGbk = "\xD6\xD0\xCE\xC4";       // 中文 in GBK
inline const std::string kEmoji = "\xF0\x9F\x98\x80";            // U+1F600, outside GBK

// One conversion: what it is, its input and its expected output.
struct EncodingCase {
    const char* what;
    std::string from;
    std::string to;
};

// A long stretch without ASCII, mixing characters GBK holds with ones it does
// not: in UTF-8, and as Utf8ToAnsi gives it.
inline std::string LongStretchUtf8() {
    std::string text;
    for (int i = 0; i < 50; ++i) text += "\xE4\xB8\xAD\xED\x95\x9C\xF0\x9F\x98\x80\xE6\x96\x87";
    return text;
}
inline std::string LongStretchAnsi() {
    std::string text;
    for (int i = 0; i < 50; ++i) text += "\xD6\xD0??\xCE\xC4";
    return text;
}

// Utf8ToAnsi: each character converted, or replaced by one '?' when the code
// page does not hold it (no look-alike).
inline const EncodingCase kUtf8ToAnsi[] = {
    {"empty", "", ""},
    {"ASCII with control characters", std::string("a\tb\r\n\0z", 7), std::string("a\tb\r\n\0z", 7)},
    {"Chinese", kChinese, kChineseGbk},
    {"client texts", "Telmora\xE5\xB9\xBF\xE5\x91\x8A", "Telmora\xB9\xE3\xB8\xE6"},  // Telmora广告
    {"Latin letter held by GBK", "\xC3\xA9", "\xA8\xA6"},                         // é
    {"euro sign of code page 936", "\xE2\x82\xAC", "\x80"},
    {"Hangul outside GBK", "a\xED\x95\x9C" "b", "a?b"},
    {"two characters outside GBK", "\xE0\xB8\x81\xED\x95\x9C", "??"},
    {"no look-alike for a sign outside GBK", "x\xC2\xB2 \xC2\xA6", "x? ?"},  // ² ¦
    {"replacement character", "\xEF\xBF\xBD", "?"},
    {"four-byte emoji is one ?", "x" + kEmoji + "y", "x?y"},
    {"highest code point", "\xF4\x8F\xBF\xBF", "?"},
    {"mixed", "\xE4\xB8\xAD" + kEmoji + "\xE6\x96\x87!", "\xD6\xD0?\xCE\xC4!"},
    {"long stretch without ASCII", LongStretchUtf8(), LongStretchAnsi()},
};

// GBK, not GB2312: characters GBK adds convert to their GBK bytes and back
// (from: UTF-8, to: GBK).
inline const EncodingCase kGbkBeyondGb2312[] = {
    {"\xE5\xA0\x83", "\xE5\xA0\x83", "\x88\xD2"},  // 堃
    {"\xE5\x96\x86", "\xE5\x96\x86", "\x86\xB4"},  // 喆
    {"\xE9\x95\x95", "\xE9\x95\x95", "\xE9\x46"},  // 镕
    {"\xE4\xB8\x9F", "\xE4\xB8\x9F", "\x81\x47"},  // 丟
};

// Utf8ToAnsi refuses these (no result at all).
inline const std::pair<const char*, std::string> kInvalidUtf8[] = {
    {"cut-off two-byte sequence", "ab\xC3"},
    {"cut-off three-byte sequence", "\xE4\xB8"},
    {"cut-off four-byte sequence", "\xF0\x9F\x98"},
    {"bad continuation byte", "\xE4\x41\xAD"},
    {"lone continuation byte", "a\x80"},
    {"overlong two-byte form", "\xC0\xAF"},
    {"overlong three-byte form", "\xE0\x80\xAF"},
    {"overlong four-byte form", "\xF0\x82\x82\xAC"},
    {"surrogate", "\xED\xA0\x80"},
    {"above U+10FFFF", "\xF4\x90\x80\x80"},
    {"byte never used", "\xFF"},
};

// AnsiToUtf8: GBK decoded; a byte or pair the code page does not define
// becomes U+FFFD and decoding goes on.
inline const EncodingCase kAnsiToUtf8[] = {
    {"empty", "", ""},
    {"plain", "plain", "plain"},
    {"Chinese", kChineseGbk, kChinese},
    {"trail byte in the ASCII range", "\x81\x40", "\xE4\xB8\x82"},  // 丂
    {"undefined byte", "a\xFF" "b", "a\xEF\xBF\xBD" "b"},
    {"lead byte without its second byte", "\x81 x", "\xEF\xBF\xBD x"},
    {"lead byte cut off at the end", "ok\xD6", "ok\xEF\xBF\xBD"},
};

// AnsiToUtf8 gives back what Utf8ToAnsi made of these.
inline const std::string kRoundTrips[] = {
    "demo.zorvak.cn",
    "Zorvak\xE6\x99\xBA\xE8\x83\xBD\xE5\xB9\xBF\xE5\x91\x8A",    // Zorvak智能广告
    "\xE5\x85\xA8\xE5\xB1\x8F\xE5\x9B\xBE\xE7\x89\x87 <root/>",  // 全屏图片 <root/>
    std::string(10000, 'x') + "\xE4\xB8\xAD",
};

}  // namespace zorvak::check
