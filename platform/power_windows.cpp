#include <windows.h>

#include "platform/platform.h"

namespace zorvak {

namespace {

// Enables the shutdown privilege in the own token, then acts by mode:
// 0 ExitWindowsEx(13) forced power-off, 1 ExitWindowsEx(14) forced reboot,
// 2 ExitWindowsEx(0) log off, 3 SetSystemPowerState forced hibernation, any
// other mode nothing more. No result is examined.
class WindowsPower final : public Power {
public:
    void PowerAction(PowerMode mode) override {
        HANDLE token = nullptr;
        OpenProcessToken(GetCurrentProcess(), 0xF00FF, &token);
        LUID luid = {};
        LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &luid);
        TOKEN_PRIVILEGES privileges = {};
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Luid = luid;
        privileges.Privileges[0].Attributes = 2;  // SE_PRIVILEGE_ENABLED
        AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
        if (token) CloseHandle(token);
        switch (mode) {
            case PowerMode::kPowerOff: ExitWindowsEx(13, 0); break;
            case PowerMode::kReboot: ExitWindowsEx(14, 0); break;
            case PowerMode::kLogOff: ExitWindowsEx(0, 0); break;
            case PowerMode::kHibernate: SetSystemPowerState(FALSE, TRUE); break;
            default: break;
        }
    }
};

}  // namespace

std::unique_ptr<Power> CreatePower() { return std::make_unique<WindowsPower>(); }

}  // namespace zorvak
