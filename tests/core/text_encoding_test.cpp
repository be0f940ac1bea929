#include "core/text_encoding.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "../windows/text_encoding_cases.h"

namespace zorvak {
namespace {

// The cases are the Windows checker's too (tests/windows/text_encoding_cases.h).
using check::EncodingCase;

// GBK (code page 936), not GB2312: the characters GBK adds to GB2312 convert
// to their GBK bytes and back.
TEST(TextEncoding, AnsiCodePageIsGbk) {
    EXPECT_STREQ(AnsiCodePageName(), "GBK");
    for (const EncodingCase& c : check::kGbkBeyondGb2312) {
        EXPECT_EQ(Utf8ToAnsi(c.from), c.to) << c.what;
        EXPECT_EQ(AnsiToUtf8(c.to), c.from) << c.what;
    }
}

TEST(Utf8ToAnsi, ConvertsEachCharacterOrReplacesItWithOneQuestionMark) {
    for (const EncodingCase& c : check::kUtf8ToAnsi) {
        const std::optional<std::string> ansi = Utf8ToAnsi(c.from);
        ASSERT_TRUE(ansi.has_value()) << c.what;
        EXPECT_EQ(*ansi, c.to) << c.what;
    }
}

TEST(Utf8ToAnsi, RejectsInvalidUtf8) {
    for (const auto& [what, utf8] : check::kInvalidUtf8) EXPECT_FALSE(Utf8ToAnsi(utf8).has_value()) << what;
}

TEST(AnsiToUtf8, DecodesGbkAndMarksUndefinedBytes) {
    for (const EncodingCase& c : check::kAnsiToUtf8) EXPECT_EQ(AnsiToUtf8(c.from), c.to) << c.what;
}

TEST(AnsiToUtf8, RoundTripsWhatUtf8ToAnsiProduces) {
    for (const std::string& text : check::kRoundTrips) {
        const std::optional<std::string> ansi = Utf8ToAnsi(text);
        ASSERT_TRUE(ansi.has_value());
        EXPECT_EQ(AnsiToUtf8(*ansi), text);
    }
}

}  // namespace
}  // namespace zorvak
