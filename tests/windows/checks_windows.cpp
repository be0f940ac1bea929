// The Windows implementations under Wine (or Windows): the registry entry,
// the process snapshot, the power and desktop calls with the calls that would
// act replaced by recorders, the cursor resource, the executable's path, the
// exclusive partial file and the file names the media cache refuses.
// Nothing here shuts the machine down, ends a process, changes the pointer or
// the taskbar, or writes the Run key of the user.

#include <windows.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "check.h"
#include "core/clock.h"
#include "core/product_texts.h"
#include "core/settings.h"
#include "core/text_encoding.h"
#include "file_name_cases.h"
#include "platform/exclusive_file.h"
#include "platform/file_name.h"
#include "platform/platform_windows.h"

namespace zorvak {
namespace {

std::string ModulePath() {
    wchar_t buffer[32768];
    const DWORD n = GetModuleFileNameW(nullptr, buffer, 32768);
    return Utf8FromWide(std::wstring(buffer, n));
}

std::string FileNamePartOf(const std::string& path) {
    return path.substr(path.find_last_of("\\/") + 1);
}

// A registry key of its own under HKEY_CURRENT_USER\Software, deleted with
// everything under it when it goes.
class ScratchKey {
public:
    ScratchKey() : name_(L"Software\\zorvak-check-" + std::to_wstring(GetCurrentProcessId())) {
        RegCreateKeyExW(HKEY_CURRENT_USER, name_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_,
                        nullptr);
    }
    ~ScratchKey() {
        if (key_) RegCloseKey(key_);
        RegDeleteTreeW(HKEY_CURRENT_USER, name_.c_str());
    }
    HKEY get() const { return key_; }

private:
    std::wstring name_;
    HKEY key_ = nullptr;
};

struct RunValue {
    bool found = false;
    DWORD type = 0;
    std::wstring data;
};

RunValue ReadRunValue(HKEY root) {
    RunValue value;
    HKEY run = nullptr;
    if (RegOpenKeyExW(root, RegistryAutoRun::kRunKey, 0, KEY_READ, &run) != ERROR_SUCCESS) return value;
    wchar_t data[4096] = {};
    DWORD size = sizeof data - sizeof(wchar_t);
    const std::wstring name = WideFromUtf8(texts::kAutoRunName);
    value.found = RegQueryValueExW(run, name.c_str(), nullptr, &value.type, reinterpret_cast<BYTE*>(data),
                                   &size) == ERROR_SUCCESS;
    value.data.assign(data, size / sizeof(wchar_t));
    RegCloseKey(run);
    return value;
}

CHECK_GROUP(AutoRun) {
    ScratchKey root;
    EXPECT_TRUE(root.get() != nullptr, "scratch key made");
    EXPECT_EQ(WideFromUtf8(texts::kAutoRunName), std::wstring(L"Telmora\u5E7F\u544A\u81EA\u52A8\u8FD0\u884C"),
              "value name Telmora广告自动运行");

    // The key is created when missing; the value holds the path, no quotes.
    const std::string first = "C:\\\xE5\xB9\xBF\xE5\x91\x8A\\Zorvak Client\\zorvak-client.exe";
    RegistryAutoRun(root.get(), [&] { return first; }).RegisterAutoRun();
    RunValue value = ReadRunValue(root.get());
    EXPECT_TRUE(value.found, "Run key and value created");
    EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ), "REG_SZ");
    EXPECT_EQ(Utf8FromWide(value.data), first + std::string(1, '\0'), "the path, ended by one zero");

    // A moved executable rewrites the value.
    const std::string moved = "D:\\ads\\zorvak-client.exe";
    RegistryAutoRun(root.get(), [&] { return moved; }).RegisterAutoRun();
    value = ReadRunValue(root.get());
    EXPECT_EQ(Utf8FromWide(value.data), moved + std::string(1, '\0'), "overwritten with the new path");

    // The real executable path by default.
    RegistryAutoRun(root.get()).RegisterAutoRun();
    value = ReadRunValue(root.get());
    EXPECT_EQ(Utf8FromWide(value.data), ModulePath() + std::string(1, '\0'), "the running executable");

    // A path that does not convert writes nothing; nothing is thrown.
    RegistryAutoRun(root.get(), [] { return std::string("bad \xC0\xAF"); }).RegisterAutoRun();
    value = ReadRunValue(root.get());
    EXPECT_EQ(Utf8FromWide(value.data), ModulePath() + std::string(1, '\0'), "unconvertible path leaves the value");
}

CHECK_GROUP(ExecutablePath) {
    const std::string exe = ExecutablePath();
    EXPECT_EQ(exe, ModulePath(), "the module's full path in UTF-8");
    EXPECT_TRUE(exe.size() > 4 && exe.compare(exe.size() - 4, 4, ".exe") == 0, "ends in .exe: " + exe);
    const std::string dir = ExecutableAppDirectory().Path();
    EXPECT_EQ(dir + FileNamePartOf(exe), exe, "the directory, with its separator, and the name");
    EXPECT_TRUE(!dir.empty() && dir.back() == '\\', "trailing separator");
    EXPECT_TRUE(!RunsAsSuperuser(), "never the superuser on Windows");
    const LocalDateTime now = SystemClock().Now();
    SYSTEMTIME local = {};
    GetLocalTime(&local);
    EXPECT_TRUE(now.IsValid() && now.year == local.wYear && now.month == local.wMonth && now.day == local.wDay,
                "the clock reads local time: " + now.ToSortableText());
}

CHECK_GROUP(ShellControl) {
    std::vector<std::pair<std::string, UINT>> started;
    ToolhelpShellControl shell([&](const char* command, UINT show) {
        started.emplace_back(command, show);
        return 33u;
    });
    const std::string self = FileNamePartOf(ModulePath());
    std::string upper = self;
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    EXPECT_TRUE(shell.IsProcessRunning(self), "finds itself by name " + self);
    EXPECT_TRUE(shell.IsProcessRunning(upper), "finds itself in upper case");
    EXPECT_TRUE(shell.IsProcessRunning("C:\\elsewhere\\" + self), "finds itself by a path ending in its name");
    EXPECT_TRUE(!shell.IsProcessRunning("zorvak-no-such-process.exe"), "no such process");

    shell.KillExplorer();
    EXPECT_EQ(started.size(), static_cast<std::size_t>(1), "one command started");
    if (!started.empty()) {
        EXPECT_EQ(started[0].first, std::string("cmd /k taskkill /f /im explorer.exe /t"), "the command line");
        EXPECT_EQ(started[0].second, 1u, "normal window");
    }
    ToolhelpShellControl throwing([](const char*, UINT) -> UINT { throw std::runtime_error("no cmd"); });
    bool escaped = false;
    try {
        throwing.KillExplorer();
    } catch (...) {
        escaped = true;
    }
    EXPECT_TRUE(!escaped, "a failing start is swallowed");
}

bool ShutdownPrivilegeEnabled() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    LUID luid = {};
    LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &luid);
    alignas(TOKEN_PRIVILEGES) unsigned char buffer[4096];
    DWORD size = 0;
    bool enabled = false;
    if (GetTokenInformation(token, TokenPrivileges, buffer, sizeof buffer, &size)) {
        const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer);
        for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
            const LUID_AND_ATTRIBUTES& p = privileges->Privileges[i];
            if (p.Luid.LowPart == luid.LowPart && p.Luid.HighPart == luid.HighPart)
                enabled = (p.Attributes & SE_PRIVILEGE_ENABLED) != 0;
        }
    }
    CloseHandle(token);
    return enabled;
}

CHECK_GROUP(Power) {
    struct Call {
        std::string name;
        unsigned first;
        unsigned second;
        bool operator==(const Call&) const = default;
    };
    struct Case {
        int mode;
        std::vector<Call> calls;
    };
    const Case cases[] = {
        {0, {{"ExitWindowsEx", 13, 0}}},
        {1, {{"ExitWindowsEx", 14, 0}}},
        {2, {{"ExitWindowsEx", 0, 0}}},
        {3, {{"SetSystemPowerState", FALSE, TRUE}}},
        {4, {}},
        {-1, {}},
    };
    for (const Case& c : cases) {
        std::vector<Call> calls;
        PowerCalls recorder;
        recorder.exitWindowsEx = [&](UINT flags, DWORD reason) {
            calls.push_back({"ExitWindowsEx", flags, reason});
            return TRUE;
        };
        recorder.setSystemPowerState = [&](BOOL suspend, BOOL force) {
            calls.push_back({"SetSystemPowerState", static_cast<unsigned>(suspend), static_cast<unsigned>(force)});
            return TRUE;
        };
        WindowsPower(recorder).PowerAction(static_cast<PowerMode>(c.mode));
        const std::string what = "mode " + std::to_string(c.mode);
        EXPECT_EQ(calls.size(), c.calls.size(), what + ": number of calls");
        for (std::size_t i = 0; i < calls.size() && i < c.calls.size(); ++i) {
            EXPECT_EQ(calls[i].name, c.calls[i].name, what);
            EXPECT_EQ(calls[i].first, c.calls[i].first, what + ": first argument");
            EXPECT_EQ(calls[i].second, c.calls[i].second, what + ": second argument");
        }
    }
    EXPECT_TRUE(ShutdownPrivilegeEnabled(), "the shutdown privilege is enabled in the own token");
}

// The cursor's two masks: AND (top half of the mask bitmap) and XOR (bottom half).
struct CursorPicture {
    bool ok = false;
    bool isIcon = true;
    DWORD hotX = 99, hotY = 99;
    int width = 0, height = 0;
    bool andAllOnes = false;
    bool xorAllZeros = false;
    bool noColour = false;
};

CursorPicture Picture(HCURSOR cursor) {
    CursorPicture picture;
    ICONINFO info = {};
    if (!cursor || !GetIconInfo(cursor, &info)) return picture;
    picture.isIcon = info.fIcon != FALSE;
    picture.hotX = info.xHotspot;
    picture.hotY = info.yHotspot;
    picture.noColour = info.hbmColor == nullptr;
    BITMAP bitmap = {};
    if (GetObjectW(info.hbmMask, sizeof bitmap, &bitmap) == sizeof bitmap) {
        picture.width = bitmap.bmWidth;
        picture.height = bitmap.bmHeight;
        struct {
            BITMAPINFOHEADER header;
            RGBQUAD colours[2];
        } format = {};
        format.header.biSize = sizeof(BITMAPINFOHEADER);
        format.header.biWidth = bitmap.bmWidth;
        format.header.biHeight = -bitmap.bmHeight;  // top row first
        format.header.biPlanes = 1;
        format.header.biBitCount = 1;
        const int stride = ((bitmap.bmWidth + 31) / 32) * 4;
        std::vector<unsigned char> bits(static_cast<std::size_t>(stride * bitmap.bmHeight));
        HDC screen = GetDC(nullptr);
        const int rows = GetDIBits(screen, info.hbmMask, 0, static_cast<UINT>(bitmap.bmHeight), bits.data(),
                                   reinterpret_cast<BITMAPINFO*>(&format), DIB_RGB_COLORS);
        ReleaseDC(nullptr, screen);
        if (rows == bitmap.bmHeight && bitmap.bmHeight == 2 * bitmap.bmWidth) {
            const std::size_t half = bits.size() / 2;
            picture.andAllOnes = true;
            picture.xorAllZeros = true;
            // Only the first bmWidth bits of each row are pixels.
            for (int row = 0; row < bitmap.bmHeight; ++row) {
                for (int x = 0; x < bitmap.bmWidth; ++x) {
                    const std::size_t at = static_cast<std::size_t>(row * stride + x / 8);
                    const bool bit = (bits[at] >> (7 - x % 8)) & 1;
                    if (at < half && !bit) picture.andAllOnes = false;
                    if (at >= half && bit) picture.xorAllZeros = false;
                }
            }
            picture.ok = true;
        }
    }
    if (info.hbmMask) DeleteObject(info.hbmMask);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    return picture;
}

CHECK_GROUP(DesktopChrome) {
    // The resource is linked in and is the transparent pointer.
    HCURSOR shared = LoadCursorA(GetModuleHandleA(nullptr), "newcur");
    EXPECT_TRUE(shared != nullptr, "NEWCUR is in the executable");
    const CursorPicture picture = Picture(shared);
    EXPECT_TRUE(picture.ok, "NEWCUR's masks read");
    EXPECT_TRUE(!picture.isIcon, "a cursor, not an icon");
    EXPECT_EQ(picture.hotX, 0ul, "hot spot x");
    EXPECT_EQ(picture.hotY, 0ul, "hot spot y");
    EXPECT_EQ(picture.width, 32, "32 pixels wide");
    EXPECT_EQ(picture.height, 64, "32 pixels high (mask of two halves)");
    EXPECT_TRUE(picture.noColour, "monochrome");
    EXPECT_TRUE(picture.andAllOnes, "AND mask all ones");
    EXPECT_TRUE(picture.xorAllZeros, "XOR mask all zeros");

    // Hide twice, then show, with the acting calls recorded. Each hide hands
    // SetSystemCursor a transparent cursor of its own, which it destroys.
    struct Call {
        std::string name;
        std::uintptr_t window = 0;
        int value = 0;
        HCURSOR cursor = nullptr;
    };
    std::vector<Call> calls;
    const HWND taskbar = reinterpret_cast<HWND>(std::uintptr_t{0x4242});
    HWND found = taskbar;
    DesktopChromeCalls recorder;
    recorder.findWindow = [&](const char* className, const char* windowName) {
        calls.push_back({std::string("FindWindowA ") + className + (windowName ? " named" : "")});
        return found;
    };
    recorder.showWindow = [&](HWND window, int show) {
        calls.push_back({"ShowWindow", reinterpret_cast<std::uintptr_t>(window), show});
        return TRUE;
    };
    std::vector<CursorPicture> handedOver;
    recorder.setSystemCursor = [&](HCURSOR cursor, DWORD id) {
        calls.push_back({"SetSystemCursor", 0, static_cast<int>(id), cursor});
        handedOver.push_back(Picture(cursor));
        DestroyCursor(cursor);  // what the system does with it
        return TRUE;
    };
    recorder.systemParametersInfo = [&](UINT action, UINT param, void* data, UINT winIni) {
        calls.push_back({"SystemParametersInfoA " + std::to_string(action) + " " + std::to_string(param) +
                             (data ? " data" : " null"),
                         0, static_cast<int>(winIni)});
        return TRUE;
    };
    WindowsDesktopChrome chrome(recorder);
    chrome.SetDesktopChrome(false);
    chrome.SetDesktopChrome(false);
    chrome.SetDesktopChrome(true);
    chrome.SetDesktopChrome(true);

    const std::vector<std::string> expected = {
        "FindWindowA Shell_TrayWnd", "SetSystemCursor 32512", "ShowWindow 0",
        "FindWindowA Shell_TrayWnd", "SetSystemCursor 32512", "ShowWindow 0",
        "FindWindowA Shell_TrayWnd", "ShowWindow 9",          "SystemParametersInfoA 87 0 null 2",
        "FindWindowA Shell_TrayWnd", "ShowWindow 9",          "SystemParametersInfoA 87 0 null 2",
    };
    std::vector<std::string> seen;
    for (const Call& call : calls) {
        if (call.name == "SetSystemCursor" || call.name == "ShowWindow")
            seen.push_back(call.name + " " + std::to_string(call.value));
        else if (call.name.rfind("SystemParametersInfoA", 0) == 0)
            seen.push_back(call.name + " " + std::to_string(call.value));
        else
            seen.push_back(call.name);
    }
    EXPECT_EQ(seen.size(), expected.size(), "hide, hide, show, show: number of calls");
    for (std::size_t i = 0; i < seen.size() && i < expected.size(); ++i)
        EXPECT_EQ(seen[i], expected[i], "call " + std::to_string(i + 1));
    for (const Call& call : calls) {
        if (call.name == "ShowWindow") EXPECT_EQ(call.window, std::uintptr_t{0x4242}, "ShowWindow acts on the taskbar");
        if (call.name == "SetSystemCursor") EXPECT_TRUE(call.cursor != shared, "a copy, never the shared resource cursor");
    }
    EXPECT_EQ(handedOver.size(), static_cast<std::size_t>(2), "a pointer at each hide");
    for (const CursorPicture& p : handedOver)
        EXPECT_TRUE(p.ok && p.andAllOnes && p.xorAllZeros && p.hotX == 0 && p.hotY == 0,
                    "the pointer handed over is transparent");
    EXPECT_TRUE(Picture(LoadCursorA(GetModuleHandleA(nullptr), "newcur")).ok,
                "the resource cursor is still whole after two hides");

    // Without a taskbar the pointer is still replaced.
    calls.clear();
    handedOver.clear();
    found = nullptr;
    chrome.SetDesktopChrome(false);
    EXPECT_EQ(handedOver.size(), static_cast<std::size_t>(1), "no taskbar: pointer replaced all the same");
}

CHECK_GROUP(ExclusiveFile) {
    check::TempFolder folder("zorvak-check-\xE4\xB8\xAD");
    const std::string path = folder.File("\xE5\xB9\xBF\xE5\x91\x8A.mp4.tmp");
    auto file = ExclusiveFile::OpenForAppend(path, 512 * 1024);
    EXPECT_TRUE(file != nullptr, "created under a Chinese name");
    if (!file) return;
    EXPECT_TRUE(ExclusiveFile::OpenForAppend(path, 1024) == nullptr, "a second open is refused while held");
    EXPECT_TRUE(!check::ReadBytes(path).has_value(), "nobody else reads it while held");
    EXPECT_TRUE(file->Append("abc", 3), "append");
    EXPECT_EQ(file->Size(), std::uint64_t{3}, "size counts buffered bytes");
    EXPECT_TRUE(file->Truncate(), "truncate");
    EXPECT_TRUE(file->Append("xy", 2), "append after truncate");
    EXPECT_TRUE(file->Close(), "close");
    file.reset();
    EXPECT_EQ(check::ReadBytes(path), std::optional<std::string>("xy"), "content after close");
    auto again = ExclusiveFile::OpenForAppend(path, 1024);
    EXPECT_TRUE(again != nullptr, "open again after close");
    if (again) EXPECT_EQ(again->Size(), std::uint64_t{2}, "an existing file is appended to");
}

DWORD Attributes(const std::string& path) { return GetFileAttributesW(WideFromUtf8(path).c_str()); }

CHECK_GROUP(SettingsFile) {
    check::TempFolder folder("zorvak-check-\xE8\xAE\xBE\xE7\xBD\xAE");
    const std::string path = folder.File(Settings::kFileName);
    const std::string before = "[PLAYLIST]\r\nKEYWORD=old\r\n";

    // A read-only file refuses the write, as the profile functions do.
    check::WriteBytes(path, before);
    SetFileAttributesW(WideFromUtf8(path).c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(!WriteProfileString(path, "PLAYLIST", "KEYWORD", "new"), "read-only file refused");
    EXPECT_EQ(check::ReadBytes(path), std::optional<std::string>(before), "read-only file unchanged");
    EXPECT_EQ(GetProfileString(path, "PLAYLIST", "KEYWORD", "0"), std::string("old"), "read-only file still read");
    SetFileAttributesW(WideFromUtf8(path).c_str(), FILE_ATTRIBUTE_NORMAL);

    // A hidden file stays hidden; nothing is left beside it.
    SetFileAttributesW(WideFromUtf8(path).c_str(), FILE_ATTRIBUTE_HIDDEN);
    EXPECT_TRUE(WriteProfileString(path, "PLAYLIST", "KEYWORD", "new"), "hidden file written");
    EXPECT_EQ(check::ReadBytes(path), std::optional<std::string>("[PLAYLIST]\r\nKEYWORD=new\r\n"),
              "hidden file's new content");
    EXPECT_TRUE(Attributes(path) != INVALID_FILE_ATTRIBUTES && (Attributes(path) & FILE_ATTRIBUTE_HIDDEN),
                "still hidden");
    EXPECT_EQ(check::Entries(folder.Path()), std::string(Settings::kFileName), "no temporary file left");

    // A file another program holds without sharing refuses the write and
    // reads as missing; both recover when it lets go.
    {
        HANDLE locker = CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_TRUE(locker != INVALID_HANDLE_VALUE, "locked by another handle");
        EXPECT_TRUE(!WriteProfileString(path, "PLAYLIST", "noautorun", "1"), "a locked file refuses the write");
        EXPECT_EQ(GetProfileString(path, "PLAYLIST", "noautorun", "x"), std::string("x"),
                  "a locked file reads as missing (the default)");
        if (locker != INVALID_HANDLE_VALUE) CloseHandle(locker);
    }
    EXPECT_TRUE(WriteProfileString(path, "PLAYLIST", "noautorun", "0"), "writable again");
    EXPECT_EQ(GetProfileString(path, "PLAYLIST", "noautorun", "x"), std::string("0"), "readable again");
    EXPECT_EQ(check::Entries(folder.Path()), std::string(Settings::kFileName), "still no temporary file left");

    // A folder in the file's place.
    check::TempFolder other;
    CreateDirectoryW(WideFromUtf8(other.File(Settings::kFileName)).c_str(), nullptr);
    EXPECT_TRUE(!WriteProfileString(other.File(Settings::kFileName), "PLAYLIST", "KEYWORD", "x"),
                "a folder in the file's place refuses the write");
    EXPECT_EQ(GetProfileString(other.File(Settings::kFileName), "PLAYLIST", "KEYWORD", "0"), std::string("0"),
              "a folder reads as the default");
}

// The Win32 profile functions on an ASCII path; values in the ANSI code page,
// given and answered here in UTF-8.
std::string WinRead(const std::string& path, const std::string& section, const std::string& key) {
    char buffer[2048] = {};
    GetPrivateProfileStringA(section.c_str(), key.c_str(), "0", buffer, sizeof buffer, path.c_str());
    return AnsiToUtf8(buffer);
}

bool WinWrite(const std::string& path, const std::string& section, const std::string& key,
              const std::string& value) {
    const std::optional<std::string> ansi = Utf8ToAnsi(value);
    return ansi && WritePrivateProfileStringA(section.c_str(), key.c_str(), ansi->c_str(), path.c_str());
}

CHECK_GROUP(ProfileDifferential) {
    struct Probe {
        const char* section;
        const char* key;
        std::string expected;
    };
    struct Case {
        const char* what;
        std::optional<std::string> before;  // nullopt: no file
        const char* key;                     // written in section PLAYLIST
        std::string value;
        std::vector<Probe> probes;
        std::vector<std::string> keptInOrder;  // texts the file still holds, in this order
    };
    const std::string chinese = "\xE4\xB8\xAD\xE6\x96\x87";
    const Case cases[] = {
        {"no file", std::nullopt, "KEYWORD", "demo.zorvak.cn",
         {{"PLAYLIST", "KEYWORD", "demo.zorvak.cn"}, {"PLAYLIST", "noautorun", "0"}}, {}},
        {"case of names", "[playlist]\r\nkeyword=a\r\n", "KEYWORD", "b",
         {{"PLAYLIST", "KEYWORD", "b"}, {"Playlist", "keyWORD", "b"}}, {}},
        {"blanks around values", "[PLAYLIST]\r\n  KEYWORD  =  abc def  \r\n", "noautorun", "0",
         {{"PLAYLIST", "KEYWORD", "abc def"}, {"PLAYLIST", "noautorun", "0"}}, {}},
        {"quotes", "[PLAYLIST]\r\nA=\"x y\"\r\nB='q'\r\n", "C", "1",
         {{"PLAYLIST", "A", "x y"}, {"PLAYLIST", "B", "q"}, {"PLAYLIST", "C", "1"}}, {}},
        {"empty values", "[PLAYLIST]\r\nKEYWORD=\r\n", "FixTime", "",
         {{"PLAYLIST", "KEYWORD", ""}, {"PLAYLIST", "FixTime", ""}}, {}},
        {"missing section", "[OTHER]\r\nx=1\r\n", "KEYWORD", "a",
         {{"PLAYLIST", "KEYWORD", "a"}, {"OTHER", "x", "1"}}, {"[OTHER]", "x=1", "[PLAYLIST]", "KEYWORD=a"}},
        {"key added at the end of its section", "[PLAYLIST]\r\nKEYWORD=a\r\n[LAST]\r\nx=1\r\n", "noautorun", "0",
         {{"PLAYLIST", "noautorun", "0"}, {"PLAYLIST", "KEYWORD", "a"}, {"LAST", "x", "1"}},
         {"KEYWORD=a", "noautorun=0", "[LAST]", "x=1"}},
        {"comments and other sections kept",
         "; about\r\n[OTHER]\r\ny=2\r\n[PLAYLIST]\r\n;KEYWORD=c\r\nKEYWORD=a\r\n", "KEYWORD", "b",
         {{"PLAYLIST", "KEYWORD", "b"}, {"OTHER", "y", "2"}}, {"; about", "[OTHER]", "y=2", ";KEYWORD=c", "KEYWORD=b"}},
        {"first duplicate wins", "[PLAYLIST]\r\nKEYWORD=first\r\nKEYWORD=second\r\n", "noautorun", "1",
         {{"PLAYLIST", "KEYWORD", "first"}, {"PLAYLIST", "noautorun", "1"}}, {}},
        {"first duplicate replaced", "[PLAYLIST]\r\nKEYWORD=first\r\nKEYWORD=second\r\n", "KEYWORD", "new",
         {{"PLAYLIST", "KEYWORD", "new"}}, {"KEYWORD=new", "KEYWORD=second"}},
        {"Chinese value in the code page", "[PLAYLIST]\r\nKEYWORD=a\r\n", "KEYWORD", chinese,
         {{"PLAYLIST", "KEYWORD", chinese}}, {}},
    };
    check::TempFolder folder;
    int number = 0;
    for (const Case& c : cases) {
        // Fresh names for every file: the profile functions may keep a file's
        // content in memory.
        const std::string ours = folder.File("ours" + std::to_string(number) + ".ini");
        const std::string theirs = folder.File("win" + std::to_string(number++) + ".ini");
        if (c.before) {
            check::WriteBytes(ours, *c.before);
            check::WriteBytes(theirs, *c.before);
        }
        EXPECT_TRUE(WriteProfileString(ours, "PLAYLIST", c.key, c.value), std::string(c.what) + ": our write");
        EXPECT_TRUE(WinWrite(theirs, "PLAYLIST", c.key, c.value), std::string(c.what) + ": Win32 write");
        for (const Probe& p : c.probes) {
            const std::string what = std::string(c.what) + ": " + p.section + "/" + p.key;
            EXPECT_EQ(GetProfileString(ours, p.section, p.key, "0"), p.expected, what + ", ours read by ours");
            EXPECT_EQ(WinRead(ours, p.section, p.key), p.expected, what + ", ours read by Win32");
            EXPECT_EQ(GetProfileString(theirs, p.section, p.key, "0"), p.expected, what + ", Win32's read by ours");
            EXPECT_EQ(WinRead(theirs, p.section, p.key), p.expected, what + ", Win32's read by Win32");
        }
        for (const std::string& file : {ours, theirs}) {
            const std::string bytes = check::ReadBytes(file).value_or("");
            std::size_t at = 0;
            for (const std::string& text : c.keptInOrder) {
                const std::size_t found = bytes.find(text, at);
                EXPECT_TRUE(found != std::string::npos,
                            std::string(c.what) + ": " + (file == ours ? "ours" : "Win32's") + " holds " + text +
                                " in order: " + check::Show(bytes));
                if (found != std::string::npos) at = found + text.size();
            }
        }
    }
}

CHECK_GROUP(LocalFileName) {
    for (const std::string& name : check::kWindowsKeeps)
        EXPECT_TRUE(IsLocalFileName(name), "kept here: " + check::Show(name));
    for (const std::string& name : check::kWindowsRefuses)
        EXPECT_TRUE(!IsLocalFileName(name), "refused here: " + check::Show(name));

    // What the refused names would do: a name ending in a dot is another
    // file's name, and a device name is no file at all.
    check::TempFolder folder;
    check::WriteBytes(folder.File("a.jpg"), "first");
    check::WriteBytes(folder.File("a.jpg."), "second");
    EXPECT_EQ(check::ReadBytes(folder.File("a.jpg")), std::optional<std::string>("second"),
              "\"a.jpg.\" writes over \"a.jpg\"");
    check::WriteBytes(folder.File("nul.mp4"), "video");
    EXPECT_EQ(check::Entries(folder.Path()), std::string("a.jpg"), "\"nul.mp4\" leaves no file");
}

}  // namespace
}  // namespace zorvak
