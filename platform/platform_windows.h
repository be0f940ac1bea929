#pragma once

// The Windows implementations behind platform.h, declared here so that the
// Windows checker (tests/windows/) can build them with their seams replaced:
// the registry root the auto-start entry goes under, and the calls that would
// end the shell, shut the machine down or change the desktop. The checker
// never makes those calls for real.

#include <windows.h>

#include <functional>
#include <string>

#include "core/product_texts.h"
#include "platform/platform.h"

namespace zorvak {

// UTF-8 to UTF-16 and back; "" for text that does not convert.
std::wstring WideFromUtf8(const std::string& utf8);
std::string Utf8FromWide(const std::wstring& wide);

// Auto-start through the Run key: under root (HKEY_CURRENT_USER in the client)
// the key kRunKey, created when missing, gets the REG_SZ value
// texts::kAutoRunName holding the executable's full path, without quotes and
// without arguments; an existing value is overwritten. Every failure is silent.
class RegistryAutoRun final : public AutoRun {
public:
    static constexpr const wchar_t* kRunKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

    explicit RegistryAutoRun(HKEY root = HKEY_CURRENT_USER,
                             std::function<std::string()> executablePath = ExecutablePath)
        : root_(root), executablePath_(std::move(executablePath)) {}
    void RegisterAutoRun() override;

private:
    HKEY root_;
    std::function<std::string()> executablePath_;
};

// Processes from the Toolhelp snapshot (CreateToolhelp32Snapshot,
// Process32FirstW, Process32NextW, looked up in kernel32.dll when first
// needed; where they do not exist nothing matches). Each entry's executable
// name is matched under the rules of ProcessNameMatches, in UTF-8.
// KillExplorer starts "cmd /k taskkill /f /im explorer.exe /t" in a normal
// window (show mode 1) through winExec and does not wait.
class ToolhelpShellControl final : public ShellControl {
public:
    static constexpr const char* kKillExplorerCommand = "cmd /k taskkill /f /im explorer.exe /t";
    static constexpr UINT kKillExplorerShow = 1;  // SW_SHOWNORMAL

    using WinExecFn = std::function<UINT(const char* commandLine, UINT show)>;
    explicit ToolhelpShellControl(WinExecFn winExec = ::WinExec) : winExec_(std::move(winExec)) {}
    bool IsProcessRunning(const std::string& name) override;
    void KillExplorer() override;

private:
    WinExecFn winExec_;
};

// Enables SeShutdownPrivilege in the own process's token (opened with the
// access mask 0xF00FF): one entry, attribute SE_PRIVILEGE_ENABLED, no previous
// state asked for. True when every step succeeded; PowerAction does not look.
bool EnableShutdownPrivilege();

// The calls a power action ends in.
struct PowerCalls {
    std::function<BOOL(UINT flags, DWORD reason)> exitWindowsEx = ::ExitWindowsEx;
    std::function<BOOL(BOOL suspend, BOOL force)> setSystemPowerState = ::SetSystemPowerState;
};

// EnableShutdownPrivilege, then by mode:
//   kPowerOff  ExitWindowsEx(EWX_SHUTDOWN | EWX_FORCE | EWX_POWEROFF = 13, 0)
//   kReboot    ExitWindowsEx(EWX_REBOOT | EWX_FORCE | EWX_POWEROFF = 14, 0)
//   kLogOff    ExitWindowsEx(EWX_LOGOFF = 0, 0)
//   kHibernate SetSystemPowerState(FALSE, TRUE): forced hibernation
//   any other value nothing more. No result is examined.
class WindowsPower final : public Power {
public:
    explicit WindowsPower(PowerCalls calls = {}) : calls_(std::move(calls)) {}
    void PowerAction(PowerMode mode) override;

private:
    PowerCalls calls_;
};

// The calls desktop concealment makes.
struct DesktopChromeCalls {
    std::function<HWND(const char* className, const char* windowName)> findWindow = ::FindWindowA;
    std::function<BOOL(HWND window, int show)> showWindow = ::ShowWindow;
    // Takes the cursor over and destroys it, as SetSystemCursor does.
    std::function<BOOL(HCURSOR cursor, DWORD id)> setSystemCursor = ::SetSystemCursor;
    std::function<BOOL(UINT action, UINT param, void* data, UINT winIni)> systemParametersInfo =
        ::SystemParametersInfoA;
};

// A cursor of its own made from the resource NEWCUR of the executable
// (platform/windows/zorvak.rc, linked into every executable that links the
// platform library): 32 x 32, hot spot 0,0, every pixel transparent. The
// caller owns it. Null when the resource is missing.
HCURSOR CreateTransparentPointer();

// Hide (false): a fresh transparent pointer replaces the normal arrow
// (SetSystemCursor with OCR_NORMAL 32512; SetSystemCursor destroys the cursor
// it is given, so it never gets the resource's shared one), and the taskbar,
// the top-level window of class "Shell_TrayWnd", is hidden (ShowWindow 0).
// Show (true): the taskbar is restored (ShowWindow 9) and every pointer is
// reloaded from the user's settings (SystemParametersInfoA(SPI_SETCURSORS 87,
// 0, nullptr, SPIF_SENDCHANGE 2)). Without a taskbar window the pointer steps
// still run. Errors are swallowed.
class WindowsDesktopChrome final : public DesktopChrome {
public:
    explicit WindowsDesktopChrome(DesktopChromeCalls calls = {}) : calls_(std::move(calls)) {}
    void SetDesktopChrome(bool show) override;

private:
    DesktopChromeCalls calls_;
};

}  // namespace zorvak
