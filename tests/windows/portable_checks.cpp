// The rules that hold on every OS, checked against the implementation of the
// OS the checker was built for: under Wine the Windows files (code page
// conversions through Win32, the settings file through MoveFileExW, the
// locale's long time format), natively the Linux ones. The same tables on both
// keep the two twins alike.

#include <optional>
#include <string>
#include <vector>

#include "check.h"
#include "file_name_cases.h"
#include "text_encoding_cases.h"
#include "core/settings.h"
#include "core/text_encoding.h"
#include "platform/file_name.h"
#include "platform/time_format.h"

namespace zorvak {
namespace {

using check::kChinese;
using check::kChineseGbk;
using check::kEmoji;

CHECK_GROUP(TextEncoding) {
    EXPECT_EQ(std::string(AnsiCodePageName()), std::string("GBK"), "the ANSI code page is 936");
    for (const check::EncodingCase& c : check::kUtf8ToAnsi)
        EXPECT_EQ(Utf8ToAnsi(c.from), std::optional<std::string>(c.to), c.what);
    for (const check::EncodingCase& c : check::kGbkBeyondGb2312) {
        EXPECT_EQ(Utf8ToAnsi(c.from), std::optional<std::string>(c.to), c.what);
        EXPECT_EQ(AnsiToUtf8(c.to), c.from, c.what);
    }
    for (const auto& [what, utf8] : check::kInvalidUtf8) EXPECT_EQ(Utf8ToAnsi(utf8), std::nullopt, what);
    for (const check::EncodingCase& c : check::kAnsiToUtf8) EXPECT_EQ(AnsiToUtf8(c.from), c.to, c.what);
    for (const std::string& text : check::kRoundTrips) {
        const std::optional<std::string> ansi = Utf8ToAnsi(text);
        EXPECT_EQ(ansi ? AnsiToUtf8(*ansi) : std::string("nullopt"), text, "round trip of " + text.substr(0, 20));
    }
}

CHECK_GROUP(Profile) {
    struct Read {
        const char* what;
        std::string content;
        std::string expected;
    };
    const std::string longX(3000, 'x');
    const Read reads[] = {
        {"missing section", "[OTHER]\r\nKEYWORD=a\r\n", "0"},
        {"missing key", "[PLAYLIST]\r\nFixTime=3:00:00\r\n", "0"},
        {"empty value", "[PLAYLIST]\r\nKEYWORD=\r\n", ""},
        {"blanks around", "[PLAYLIST]\r\n  KEYWORD \t=  abc def \t\r\n", "abc def"},
        {"one pair of quotes", "[PLAYLIST]\r\nKEYWORD=\"\"x\"\"\r\n", "\"x\""},
        {"names without case, LF", "[playList]\nkeyWord=v\n", "v"},
        {"first matching section only", "[PLAYLIST]\nA=1\n[OTHER]\nB=2\n[playlist]\nKEYWORD=2\n", "0"},
        {"comment is no key", "[PLAYLIST]\n;KEYWORD=x\n", "0"},
        {"last line without line end", "[PLAYLIST]\r\nKEYWORD=last", "last"},
        {"GBK value", "[PLAYLIST]\r\nKEYWORD=" + kChineseGbk + "\r\n", kChinese},
        {"double-byte character is no bracket", "[PLAYLIST]\r\n[\x81\x5D\r\nKEYWORD=v\r\n", "v"},
        {"2,047 characters at most", "[PLAYLIST]\nKEYWORD=" + longX + "\n", longX.substr(0, 2047)},
        {"double-byte character not split",
         "[PLAYLIST]\nKEYWORD=" + std::string(2046, 'x') + kChineseGbk + "\n", std::string(2046, 'x')},
    };
    // A folder with a Chinese name: every path goes through UTF-8.
    check::TempFolder folder("zorvak-check-\xE5\xB9\xBF\xE5\x91\x8A");
    const std::string path = folder.File(Settings::kFileName);
    for (const Read& c : reads) {
        check::WriteBytes(path, c.content);
        EXPECT_EQ(GetProfileString(path, "PLAYLIST", "KEYWORD", "0"), c.expected, c.what);
    }

    struct Edit {
        const char* what;
        std::optional<std::string> before;
        std::string key;
        std::string value;
        std::string after;
    };
    const Edit edits[] = {
        {"first write creates file and section", std::nullopt, "KEYWORD", "demo.zorvak.cn",
         "[PLAYLIST]\r\nKEYWORD=demo.zorvak.cn\r\n"},
        {"replaced in place, every other byte kept",
         "; s\r\n[PLAYLIST]\r\n  keyword = old \r\n\xFF\xFE junk\r\n\r\n[LAST]\r\nx=1\r\n", "KEYWORD", "new",
         "; s\r\n[PLAYLIST]\r\nKEYWORD=new\r\n\xFF\xFE junk\r\n\r\n[LAST]\r\nx=1\r\n"},
        {"new key after the last key of the section", "[PLAYLIST]\nKEYWORD=a\n\n[LAST]\n", "noautorun", "0",
         "[PLAYLIST]\nKEYWORD=a\nnoautorun=0\n\n[LAST]\n"},
        {"new key after a last line without line end", "[PLAYLIST]\nKEYWORD=a", "noautorun", "0",
         "[PLAYLIST]\nKEYWORD=a\nnoautorun=0\n"},
        {"Chinese text as GBK bytes", std::nullopt, "KEYWORD", kChinese, "[PLAYLIST]\r\nKEYWORD=" + kChineseGbk + "\r\n"},
        {"character outside GBK as one ?", std::nullopt, "KEYWORD", "a" + kEmoji + "b", "[PLAYLIST]\r\nKEYWORD=a?b\r\n"},
    };
    for (const Edit& c : edits) {
        check::TempFolder editFolder;
        const std::string file = editFolder.File(Settings::kFileName);
        if (c.before) check::WriteBytes(file, *c.before);
        EXPECT_TRUE(WriteProfileString(file, "PLAYLIST", c.key, c.value), c.what);
        EXPECT_EQ(check::ReadBytes(file), std::optional<std::string>(c.after), c.what);
        EXPECT_EQ(check::Entries(editFolder.Path()), std::string(Settings::kFileName),
                  std::string(c.what) + ": no file left beside it");
    }

    // Refusals leave everything as it was.
    {
        check::TempFolder refused;
        const std::string file = refused.File(Settings::kFileName);
        const std::string before = "[PLAYLIST]\r\nKEYWORD=old\r\n";
        check::WriteBytes(file, before);
        EXPECT_TRUE(!WriteProfileString(file, "PLAYLIST", "KEYWORD", "a\xC0\xAF"), "value that is not UTF-8 refused");
        EXPECT_EQ(check::ReadBytes(file), std::optional<std::string>(before), "file kept after a refused value");
        EXPECT_TRUE(!WriteProfileString(refused.File("missing/dIrovede.ini"), "PLAYLIST", "KEYWORD", "x"),
                    "missing folder refused");
        EXPECT_EQ(check::Entries(refused.Path()), std::string(Settings::kFileName), "nothing created");
    }

    // The settings object: a fresh read at every call.
    {
        check::TempFolder appFolder("zorvak-check-\xE5\x85\xA8\xE5\xB1\x8F");
        const FixedAppDirectory dir(appFolder.Path());
        const Settings settings(dir);
        EXPECT_EQ(settings.ReadSetting("PLAYLIST", "KEYWORD"), std::string("0"), "no file reads 0");
        EXPECT_TRUE(settings.WriteSetting("PLAYLIST", "KEYWORD", "demo.zorvak.cn"), "first write");
        EXPECT_TRUE(settings.WriteSetting("PLAYLIST", "noautorun", "0"), "second write");
        EXPECT_EQ(check::ReadBytes(settings.FilePath()),
                  std::optional<std::string>("[PLAYLIST]\r\nKEYWORD=demo.zorvak.cn\r\nnoautorun=0\r\n"),
                  "the first start's two keys, in order");
        check::WriteBytes(settings.FilePath(), "[PLAYLIST]\nEXPLORER= 1 \n");
        EXPECT_EQ(settings.ReadSetting("PLAYLIST", "EXPLORER"), std::string("1"), "a hand edit is seen");
    }
}

CHECK_GROUP(CacheName) {
    for (const std::string& name : check::kWindowsKeeps)
        EXPECT_TRUE(IsWindowsFileName(name), "Windows keeps " + check::Show(name));
    for (const std::string& name : check::kWindowsRefuses)
        EXPECT_TRUE(!IsWindowsFileName(name), "Windows refuses " + check::Show(name));
}

CHECK_GROUP(TimeFormat) {
    // Whatever the locale's long time format, every second of the day comes
    // back from its text, and the text of 3:00:00 holds "3" and "00".
    int wrong = 0;
    std::string firstWrong;
    for (int t = 0; t < 86400; ++t) {
        const TimeOfDay time{t / 3600, t / 60 % 60, t % 60};
        const std::string text = FormatLongTime(time);
        bool ok = false;
        try {
            ok = ParseLongTime(text) == time;
        } catch (const TimeFormatError&) {
        }
        if (!ok && wrong++ == 0) firstWrong = text;
    }
    EXPECT_EQ(wrong, 0, "every second of the day round-trips (first wrong: " + firstWrong + ")");
    const std::string three = FormatLongTime({3, 0, 0});
    check::Note("3:00:00 reads \"" + three + "\", 15:04:05 \"" + FormatLongTime({15, 4, 5}) + "\"");
    EXPECT_TRUE(three.find("3") != std::string::npos && three.find("00") != std::string::npos,
                "3:00:00 as " + three);
    EXPECT_TRUE(FormatLongTime({15, 4, 5}) != FormatLongTime({3, 4, 5}), "afternoon differs from morning");
    try {
        ParseLongTime("3:00:00x");
        EXPECT_TRUE(false, "a bad text is refused");
    } catch (const TimeFormatError& error) {
        EXPECT_EQ(std::string(error.what()), std::string("'3:00:00x' is not a valid time"), "refusal message");
    }
}

}  // namespace
}  // namespace zorvak
