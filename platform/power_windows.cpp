#include <windows.h>

#include "platform/platform_windows.h"

namespace zorvak {

bool EnableShutdownPrivilege() {
    HANDLE token = nullptr;
    bool ok = OpenProcessToken(GetCurrentProcess(), 0xF00FF, &token) != FALSE;
    LUID luid = {};
    ok = LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &luid) != FALSE && ok;
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Luid = luid;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;  // 2
    // Succeeds without enabling anything when the token lacks the privilege;
    // GetLastError tells then.
    ok = AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) != FALSE &&
         GetLastError() == ERROR_SUCCESS && ok;
    if (token) CloseHandle(token);
    return ok;
}

void WindowsPower::PowerAction(PowerMode mode) {
    EnableShutdownPrivilege();
    switch (mode) {
        case PowerMode::kPowerOff: calls_.exitWindowsEx(13, 0); break;  // shutdown, force, power off
        case PowerMode::kReboot: calls_.exitWindowsEx(14, 0); break;    // reboot, force, power off
        case PowerMode::kLogOff: calls_.exitWindowsEx(0, 0); break;     // log off
        case PowerMode::kHibernate: calls_.setSystemPowerState(FALSE, TRUE); break;
        default: break;
    }
}

std::unique_ptr<Power> CreatePower() { return std::make_unique<WindowsPower>(); }

}  // namespace zorvak
