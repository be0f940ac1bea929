#include "core/settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/temp_folder.h"

namespace zorvak {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempFolder;
using test::WriteFile;

const std::string kChinese = "\xE4\xB8\xAD\xE6\x96\x87";     // 中文 in UTF-8
const std::string kChineseGbk = "\xD6\xD0\xCE\xC4";          // 中文 in GBK
const std::string kEmoji = "\xF0\x9F\x98\x80";               // U+1F600, outside GBK

// Whether file permissions bind this process (they do not for root).
bool PermissionsAreEnforced(const TempFolder& folder) {
    const std::string probe = folder.File("probe");
    WriteFile(probe, "x");
    chmod(probe.c_str(), 0444);
    const int fd = open(probe.c_str(), O_WRONLY);
    if (fd >= 0) close(fd);
    fs::remove(probe);
    return fd < 0;
}

TEST(GetProfileString, ReadsAsTheProfileFunctionsDo) {
    struct Case {
        const char* what;
        std::string content;
        std::string key;
        std::string expected;
    };
    const std::string longX(3000, 'x');
    const Case cases[] = {
        {"missing section", "[OTHER]\r\nKEYWORD=a\r\n", "KEYWORD", "0"},
        {"missing key", "[PLAYLIST]\r\nFixTime=3:00:00\r\n", "KEYWORD", "0"},
        {"empty value", "[PLAYLIST]\r\nKEYWORD=\r\n", "KEYWORD", ""},
        {"blank value", "[PLAYLIST]\r\nKEYWORD= \t \r\n", "KEYWORD", ""},
        {"blanks around", "[PLAYLIST]\r\n  KEYWORD \t=  abc def \t\r\n", "KEYWORD", "abc def"},
        {"double quotes", "[PLAYLIST]\r\nKEYWORD= \" a b \" \r\n", "KEYWORD", " a b "},
        {"single quotes", "[PLAYLIST]\r\nKEYWORD='x'\r\n", "KEYWORD", "x"},
        {"one pair of quotes", "[PLAYLIST]\r\nKEYWORD=\"\"x\"\"\r\n", "KEYWORD", "\"x\""},
        {"empty quotes", "[PLAYLIST]\r\nKEYWORD=\"\"\r\n", "KEYWORD", ""},
        {"unmatched quotes", "[PLAYLIST]\r\nKEYWORD=\"x'\r\n", "KEYWORD", "\"x'"},
        {"opening quote only", "[PLAYLIST]\r\nKEYWORD=\"x\r\n", "KEYWORD", "\"x"},
        {"lone quote", "[PLAYLIST]\r\nKEYWORD=\"\r\n", "KEYWORD", "\""},
        {"names without case, LF", "[playList]\nkeyWord=v\n", "KEYWORD", "v"},
        {"blanks before header", "  [PLAYLIST]  \nKEYWORD=v\n", "KEYWORD", "v"},
        {"first matching key", "[PLAYLIST]\nKEYWORD=first\nkeyword=second\n", "KEYWORD", "first"},
        {"first matching section only",
         "[PLAYLIST]\nA=1\n[OTHER]\nB=2\n[playlist]\nKEYWORD=second\n", "KEYWORD", "0"},
        {"key of the first section", "[PLAYLIST]\nA=1\n[OTHER]\nB=2\n[playlist]\nA=2\n", "A", "1"},
        {"key before any section", "KEYWORD=x\n[PLAYLIST]\nA=1\n", "KEYWORD", "0"},
        {"comment is no key", "[PLAYLIST]\n;KEYWORD=x\n", "KEYWORD", "0"},
        {"equals sign in value", "[PLAYLIST]\nKEYWORD=a=b\n", "KEYWORD", "a=b"},
        {"last line without line end", "[PLAYLIST]\r\nKEYWORD=last", "KEYWORD", "last"},
        {"GBK value", "[PLAYLIST]\r\nKEYWORD=" + kChineseGbk + "\r\n", "KEYWORD", kChinese},
        // 0x81 0x5D is one character whose second byte is "]": no section header.
        {"double-byte character is no bracket", "[PLAYLIST]\r\n[\x81\x5D\r\nKEYWORD=v\r\n",
         "KEYWORD", "v"},
        {"undefined byte", "[PLAYLIST]\nKEYWORD=a\xFF" "b\n", "KEYWORD", "a\xEF\xBF\xBD" "b"},
        {"2,047 characters at most", "[PLAYLIST]\nKEYWORD=" + longX + "\n", "KEYWORD",
         longX.substr(0, 2047)},
        {"double-byte character ending at 2,047",
         "[PLAYLIST]\nKEYWORD=" + std::string(2045, 'x') + kChineseGbk + "\n", "KEYWORD",
         std::string(2045, 'x') + "\xE4\xB8\xAD"},
        {"double-byte character not split",
         "[PLAYLIST]\nKEYWORD=" + std::string(2046, 'x') + kChineseGbk + "\n", "KEYWORD",
         std::string(2046, 'x')},
    };
    TempFolder folder;
    const std::string path = folder.File(Settings::kFileName);
    for (const Case& c : cases) {
        WriteFile(path, c.content);
        EXPECT_EQ(GetProfileString(path, "PLAYLIST", c.key, "0"), c.expected) << c.what;
    }
}

TEST(GetProfileString, MissingOrUnreadableFileGivesTheDefault) {
    TempFolder folder;
    EXPECT_EQ(GetProfileString(folder.File(Settings::kFileName), "PLAYLIST", "KEYWORD", "0"), "0");
    EXPECT_EQ(GetProfileString(folder.File("none/dIrovede.ini"), "PLAYLIST", "KEYWORD", "0"), "0");
    fs::create_directory(folder.File(Settings::kFileName));
    EXPECT_EQ(GetProfileString(folder.File(Settings::kFileName), "PLAYLIST", "KEYWORD", "0"), "0");
}

TEST(WriteProfileString, EditsOnlyTheLineConcerned) {
    struct Case {
        const char* what;
        std::optional<std::string> before;  // nullopt: no file
        std::string section;
        std::string key;
        std::string value;
        std::string after;
    };
    const std::string odd =
        "; settings\r\n[OTHER]\r\nKEYWORD=other\r\n\r\n[PLAYLIST]\r\n  keyword = old ;x \r\n"
        "noautorun=0\r\n   odd   spacing =  1  \t\r\n\xFF\xFE junk\r\n\r\n\r\n[LAST]\r\nx=1\r\n";
    std::string oddReplaced = odd;
    oddReplaced.replace(oddReplaced.find("  keyword = old ;x "), 19, "KEYWORD=new");
    const Case cases[] = {
        {"first write creates file and section", std::nullopt, "PLAYLIST", "KEYWORD",
         "demo.zorvak.cn", "[PLAYLIST]\r\nKEYWORD=demo.zorvak.cn\r\n"},
        {"empty file", "", "PLAYLIST", "KEYWORD", "a", "[PLAYLIST]\r\nKEYWORD=a\r\n"},
        {"replaced in place, every other byte kept", odd, "PLAYLIST", "KEYWORD", "new",
         oddReplaced},
        {"names without case, key as the caller spells it", "[playlist]\nkeyword=a\n",
         "PLAYLIST", "KEYWORD", "b", "[playlist]\nKEYWORD=b\n"},
        {"first of two equal keys", "[PLAYLIST]\nKEYWORD=a\nKEYWORD=b\n", "PLAYLIST", "KEYWORD",
         "c", "[PLAYLIST]\nKEYWORD=c\nKEYWORD=b\n"},
        {"new key after the last key, before comment and blank lines",
         "[PLAYLIST]\r\nKEYWORD=a\r\n; about LAST\r\n\r\n[LAST]\r\nx=1\r\n", "PLAYLIST",
         "noautorun", "0",
         "[PLAYLIST]\r\nKEYWORD=a\r\nnoautorun=0\r\n; about LAST\r\n\r\n[LAST]\r\nx=1\r\n"},
        {"new key in an empty section", "[PLAYLIST]\n\n[LAST]\n", "PLAYLIST", "KEYWORD", "a",
         "[PLAYLIST]\nKEYWORD=a\n\n[LAST]\n"},
        {"new key after a last line without line end", "[PLAYLIST]\nKEYWORD=a", "PLAYLIST",
         "noautorun", "0", "[PLAYLIST]\nKEYWORD=a\nnoautorun=0\n"},
        {"new key in the first of two equal sections", "[PLAYLIST]\nA=1\n[PLAYLIST]\nKEYWORD=x\n",
         "PLAYLIST", "KEYWORD", "y", "[PLAYLIST]\nA=1\nKEYWORD=y\n[PLAYLIST]\nKEYWORD=x\n"},
        {"new section at the end", "[OTHER]\r\nx=1\r\n\r\n", "PLAYLIST", "KEYWORD", "a",
         "[OTHER]\r\nx=1\r\n\r\n[PLAYLIST]\r\nKEYWORD=a\r\n"},
        {"new section after a last line without line end", "[OTHER]\nx=1", "PLAYLIST", "KEYWORD",
         "a", "[OTHER]\nx=1\n[PLAYLIST]\nKEYWORD=a\n"},
        {"value written as given", std::nullopt, "PLAYLIST", "KEYWORD", "  a b  ",
         "[PLAYLIST]\r\nKEYWORD=  a b  \r\n"},
        {"empty value", "[PLAYLIST]\r\nKEYWORD=a\r\n", "PLAYLIST", "KEYWORD", "",
         "[PLAYLIST]\r\nKEYWORD=\r\n"},
        {"Chinese text as GBK bytes", std::nullopt, "PLAYLIST", "KEYWORD", kChinese,
         "[PLAYLIST]\r\nKEYWORD=" + kChineseGbk + "\r\n"},
        {"character outside GBK as one ?", std::nullopt, "PLAYLIST", "KEYWORD",
         "a" + kEmoji + "b", "[PLAYLIST]\r\nKEYWORD=a?b\r\n"},
    };
    TempFolder folder;
    const std::string path = folder.File(Settings::kFileName);
    for (const Case& c : cases) {
        fs::remove(path);
        if (c.before) WriteFile(path, *c.before);
        EXPECT_TRUE(WriteProfileString(path, c.section, c.key, c.value)) << c.what;
        EXPECT_EQ(ReadFile(path), c.after) << c.what;
        EXPECT_EQ(folder.Entries(), std::vector<std::string>{Settings::kFileName}) << c.what;
    }
}

TEST(WriteProfileString, ValuesReadBackAsWritten) {
    struct Case {
        std::string value;
        std::string readBack;
    };
    const Case cases[] = {
        {"demo.zorvak.cn", "demo.zorvak.cn"},
        {kChinese + " site", kChinese + " site"},
        {"  padded  ", "padded"},
        {"'quoted'", "quoted"},
        {"", ""},
        {"x" + kEmoji, "x?"},
    };
    TempFolder folder;
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteProfileString(folder.File(Settings::kFileName), "PLAYLIST", "KEYWORD", c.value));
        EXPECT_EQ(GetProfileString(folder.File(Settings::kFileName), "PLAYLIST", "KEYWORD", "0"), c.readBack);
    }
}

TEST(WriteProfileString, KeepsPermissionBitsAndGivesNewFilesTheUsualMode) {
    TempFolder folder;
    const std::string path = folder.File(Settings::kFileName);
    ASSERT_TRUE(WriteProfileString(path, "PLAYLIST", "KEYWORD", "a"));
    const mode_t mask = umask(022);
    umask(mask);
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0666 & ~mask);

    chmod(path.c_str(), 0640);
    ASSERT_TRUE(WriteProfileString(path, "PLAYLIST", "KEYWORD", "b"));
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
}

TEST(WriteProfileString, WritesThroughALink) {
    TempFolder folder;
    const std::string target = folder.File("real.ini");
    WriteFile(target, "[PLAYLIST]\nKEYWORD=a\n");
    fs::create_symlink(target, folder.File(Settings::kFileName));
    ASSERT_TRUE(WriteProfileString(folder.File(Settings::kFileName), "PLAYLIST", "KEYWORD", "b"));
    EXPECT_TRUE(fs::is_symlink(folder.File(Settings::kFileName)));
    EXPECT_EQ(ReadFile(target), "[PLAYLIST]\nKEYWORD=b\n");
}

TEST(WriteProfileString, RefusedWritesReturnFalseAndLeaveTheFileAsItWas) {
    const std::string before = "[PLAYLIST]\r\nKEYWORD=old\r\n";

    {   // Target path is a folder.
        TempFolder folder;
        fs::create_directory(folder.File(Settings::kFileName));
        EXPECT_FALSE(WriteProfileString(folder.File(Settings::kFileName), "PLAYLIST", "KEYWORD", "new"));
        EXPECT_TRUE(fs::is_directory(folder.File(Settings::kFileName)));
        EXPECT_EQ(folder.Entries(), std::vector<std::string>{Settings::kFileName});
    }
    {   // Folder does not exist.
        TempFolder folder;
        const std::string path = folder.File("missing/dIrovede.ini");
        EXPECT_FALSE(WriteProfileString(path, "PLAYLIST", "KEYWORD", "new"));
        EXPECT_TRUE(folder.Entries().empty());
    }
    {   // Value that is not UTF-8.
        TempFolder folder;
        WriteFile(folder.File(Settings::kFileName), before);
        EXPECT_FALSE(WriteProfileString(folder.File(Settings::kFileName), "PLAYLIST", "KEYWORD", "a\xC0\xAF"));
        EXPECT_EQ(ReadFile(folder.File(Settings::kFileName)), before);
    }
}

TEST(WriteProfileString, ReadOnlyFileOrFolderRefusesTheWrite) {
    TempFolder folder;
    if (!PermissionsAreEnforced(folder)) {
        GTEST_SKIP() << "file permissions do not bind this process (root)";
    }
    const std::string path = folder.File(Settings::kFileName);
    const std::string before = "[PLAYLIST]\r\nKEYWORD=old\r\n";
    WriteFile(path, before);

    chmod(path.c_str(), 0444);
    EXPECT_FALSE(WriteProfileString(path, "PLAYLIST", "KEYWORD", "new"));
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_EQ(GetProfileString(path, "PLAYLIST", "KEYWORD", "0"), "old");

    chmod(path.c_str(), 0644);
    chmod(folder.path().c_str(), 0555);
    EXPECT_FALSE(WriteProfileString(path, "PLAYLIST", "KEYWORD", "new"));
    EXPECT_FALSE(WriteProfileString(path, "PLAYLIST", "noautorun", "1"));
    chmod(folder.path().c_str(), 0755);
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_EQ(folder.Entries(), std::vector<std::string>{Settings::kFileName});
}

TEST(Settings, ReadsAndWritesDIrovedeIniFreshAtEveryCall) {
    TempFolder folder;
    const FixedAppDirectory dir(folder.path().string());
    const Settings settings(dir);
    EXPECT_EQ(settings.FilePath(), folder.File(Settings::kFileName));

    EXPECT_EQ(settings.ReadSetting("PLAYLIST", "KEYWORD"), "0");
    EXPECT_TRUE(settings.WriteSetting("PLAYLIST", "KEYWORD", "demo.zorvak.cn"));
    EXPECT_TRUE(settings.WriteSetting("PLAYLIST", "noautorun", "0"));
    EXPECT_EQ(ReadFile(folder.File(Settings::kFileName)), "[PLAYLIST]\r\nKEYWORD=demo.zorvak.cn\r\nnoautorun=0\r\n");
    EXPECT_EQ(settings.ReadSetting("PLAYLIST", "KEYWORD"), "demo.zorvak.cn");

    // An edit made by hand is seen at the next read.
    WriteFile(folder.File(Settings::kFileName), "[PLAYLIST]\nEXPLORER= 1 \n");
    EXPECT_EQ(settings.ReadSetting("PLAYLIST", "KEYWORD"), "0");
    EXPECT_EQ(settings.ReadSetting("PLAYLIST", "EXPLORER"), "1");

    const FixedAppDirectory missing((folder.path() / "missing").string());
    EXPECT_FALSE(Settings(missing).WriteSetting("PLAYLIST", "KEYWORD", "x"));
    EXPECT_EQ(Settings(missing).ReadSetting("PLAYLIST", "KEYWORD"), "0");
}

TEST(ChooseValue, PicksByCondition) {
    EXPECT_EQ(ChooseValue<std::string>(true, "0", "1"), "0");
    EXPECT_EQ(ChooseValue<std::string>(false, "0", "1"), "1");
}

}  // namespace
}  // namespace zorvak
