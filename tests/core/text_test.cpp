// The shared text helpers: what each trims and which bytes the comparisons fold.
#include "core/text.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace zorvak {
namespace {

const std::string kChinese = "\xE5\xB9\xBF\xE5\x91\x8A";  // UTF-8

TEST(Trim, RemovesOnlyTheGivenCharactersAtBothEnds) {
    const struct {
        std::string text;
        std::string_view chars;
        std::string expected;
    } cases[] = {
        {"", kBlankAndTab, ""},
        {" \t ", kBlankAndTab, ""},
        {" \ta b\t ", kBlankAndTab, "a b"},
        {"\r\n a \r\n", kBlankAndTab, "\r\n a \r\n"},
        {"\r\n a \r\n", kBlanksAndLineEnds, "a"},
        {"\r\n\t \r\n", kBlanksAndLineEnds, ""},
        {"\va\f", " \t\r\v\f", "a"},
        {"\va\f", kBlanksAndLineEnds, "\va\f"},
        {" " + kChinese + " ", kBlankAndTab, kChinese},
        {std::string(" \0x\0 ", 5), kBlankAndTab, std::string("\0x\0", 3)},
    };
    for (const auto& c : cases) EXPECT_EQ(Trim(c.text, c.chars), c.expected) << c.text;
    EXPECT_EQ(Trim("\t x \t"), "x");  // blank and tab unless told otherwise
}

TEST(TrimBlanks, RemovesCodesUpTo32AtBothEnds) {
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},          {" \t\r\n", ""},   {" 0 ", "0"},
        {"\x01" "1\x1F", "1"}, {"a b", "a b"}, {" " + kChinese + " ", kChinese},
        {std::string("\0a\0", 3), "a"}, {"\x7F" "a\x7F", "\x7F" "a\x7F"},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(TrimBlanks(text), expected) << text;
        EXPECT_EQ(TrimBlanksView(text), expected) << text;
    }
}

TEST(NoCase, FoldsOnlyAsciiLetters) {
    const struct {
        std::string a;
        std::string b;
        bool equal;
    } cases[] = {
        {"", "", true},
        {"Set-Cookie", "set-cookie", true},
        {"UTF-8", "utf-8", true},
        {"Location", "Locatio", false},
        {"[", "{", false},  // 0x5B and 0x7B differ by 32 but are no letters
        {"@", "`", false},
        {"\xC3\x89", "\xC3\xA9", false},  // É and é: UTF-8 bytes compared as they are
        {"\xC9", "\xE9", false},          // the same letters in Latin-1
        {kChinese, kChinese, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EqualsNoCase(c.a, c.b), c.equal) << c.a << " / " << c.b;
        EXPECT_EQ(EqualsNoCase(c.b, c.a), c.equal) << c.b << " / " << c.a;
    }
    EXPECT_TRUE(StartsWithNoCase("http/1.1 200 OK", "HTTP/"));
    EXPECT_TRUE(StartsWithNoCase("HTTP/", "HTTP/"));
    EXPECT_FALSE(StartsWithNoCase("HTTP", "HTTP/"));
    EXPECT_FALSE(StartsWithNoCase("XHTTP/", "HTTP/"));
    EXPECT_TRUE(StartsWithNoCase("anything", ""));
    EXPECT_EQ(ToLowerAscii("HTTPS://Host.CN/Path\xC3\x89"), "https://host.cn/path\xC3\x89");
    EXPECT_EQ(ToLowerAscii('Z'), 'z');
    EXPECT_EQ(ToLowerAscii('['), '[');
}

}  // namespace
}  // namespace zorvak
