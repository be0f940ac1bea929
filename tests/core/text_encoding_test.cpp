#include "core/text_encoding.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace zorvak {
namespace {

// GBK (code page 936), not GB2312: the characters GBK adds to GB2312 convert
// to their GBK bytes and back.
TEST(TextEncoding, AnsiCodePageIsGbk) {
    EXPECT_STREQ(AnsiCodePageName(), "GBK");
    const std::pair<std::string, std::string> cases[] = {
        {"\xE5\xA0\x83", "\x88\xD2"},  // 堃
        {"\xE5\x96\x86", "\x86\xB4"},  // 喆
        {"\xE9\x95\x95", "\xE9\x46"},  // 镕
        {"\xE4\xB8\x9F", "\x81\x47"},  // 丟
    };
    for (const auto& [utf8, gbk] : cases) {
        EXPECT_EQ(Utf8ToAnsi(utf8), gbk) << utf8;
        EXPECT_EQ(AnsiToUtf8(gbk), utf8) << utf8;
    }
}

TEST(Utf8ToAnsi, ConvertsEachCharacterOrReplacesItWithOneQuestionMark) {
    struct Case {
        const char* what;
        std::string utf8;
        std::string ansi;
    };
    // A long stretch without ASCII, mixing both kinds of character.
    std::string longUtf8;
    std::string longAnsi;
    for (int i = 0; i < 50; ++i) {
        longUtf8 += "\xE4\xB8\xAD\xED\x95\x9C\xF0\x9F\x98\x80\xE6\x96\x87";
        longAnsi += "\xD6\xD0??\xCE\xC4";
    }
    const Case cases[] = {
        {"empty", "", ""},
        {"ASCII with control characters", std::string("a\tb\r\n\0z", 7),
         std::string("a\tb\r\n\0z", 7)},
        {"Chinese", "\xE4\xB8\xAD\xE6\x96\x87", "\xD6\xD0\xCE\xC4"},
        {"euro sign of code page 936", "\xE2\x82\xAC", "\x80"},
        {"Hangul outside GBK", "a\xED\x95\x9C" "b", "a?b"},
        {"two characters outside GBK", "\xE0\xB8\x81\xED\x95\x9C", "??"},
        {"replacement character", "\xEF\xBF\xBD", "?"},
        {"four-byte emoji", "x\xF0\x9F\x98\x80y", "x?y"},
        {"highest code point", "\xF4\x8F\xBF\xBF", "?"},
        {"mixed", "\xE4\xB8\xAD\xF0\x9F\x98\x80\xE6\x96\x87!", "\xD6\xD0?\xCE\xC4!"},
        {"long stretch without ASCII", longUtf8, longAnsi},
    };
    for (const Case& c : cases) {
        const std::optional<std::string> ansi = Utf8ToAnsi(c.utf8);
        ASSERT_TRUE(ansi.has_value()) << c.what;
        EXPECT_EQ(*ansi, c.ansi) << c.what;
    }
}

TEST(Utf8ToAnsi, RejectsInvalidUtf8) {
    const std::pair<const char*, std::string> cases[] = {
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
    for (const auto& [what, utf8] : cases) EXPECT_FALSE(Utf8ToAnsi(utf8).has_value()) << what;
}

TEST(AnsiToUtf8, DecodesGbkAndMarksUndefinedBytes) {
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"plain", "plain"},
        {"\xD6\xD0\xCE\xC4", "\xE4\xB8\xAD\xE6\x96\x87"},
        {"a\xFF" "b", "a\xEF\xBF\xBD" "b"},          // undefined byte
        {"\x81 x", "\xEF\xBF\xBD x"},                // lead byte without its second byte
        {"ok\xD6", "ok\xEF\xBF\xBD"},                // cut off at the end
    };
    for (const auto& [ansi, utf8] : cases) EXPECT_EQ(AnsiToUtf8(ansi), utf8) << ansi;
}

TEST(AnsiToUtf8, RoundTripsWhatUtf8ToAnsiProduces) {
    const std::string texts[] = {
        "demo.zorvak.cn",
        "Zorvak\xE6\x99\xBA\xE8\x83\xBD\xE5\xB9\xBF\xE5\x91\x8A",  // Zorvak智能广告
        "\xE5\x85\xA8\xE5\xB1\x8F\xE5\x9B\xBE\xE7\x89\x87 <root/>",  // 全屏图片 <root/>
        std::string(10000, 'x') + "\xE4\xB8\xAD",
    };
    for (const std::string& text : texts) {
        const std::optional<std::string> ansi = Utf8ToAnsi(text);
        ASSERT_TRUE(ansi.has_value());
        EXPECT_EQ(AnsiToUtf8(*ansi), text);
    }
}

}  // namespace
}  // namespace zorvak
