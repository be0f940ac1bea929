// Desktop concealment on Windows: the taskbar window of class "Shell_TrayWnd"
// is hidden and restored, and the system's normal arrow pointer is replaced by
// the fully transparent cursor resource NEWCUR (platform/windows/zorvak.rc,
// linked into the executable). The pointer swap is system-wide and outlives the
// process; showing reloads every pointer from the user's settings.

#include <windows.h>

#include <memory>

#include "platform/platform.h"

namespace zorvak {
namespace {

class WindowsDesktopChrome final : public DesktopChrome {
public:
    void SetDesktopChrome(bool show) override {
        try {
            HWND taskbar = FindWindowA("Shell_TrayWnd", nullptr);
            if (!show) {
                HCURSOR blank = LoadCursorA(GetModuleHandleA(nullptr), "newcur");
                SetSystemCursor(blank, 32512);  // OCR_NORMAL
                ShowWindow(taskbar, 0);         // SW_HIDE
            } else {
                ShowWindow(taskbar, 9);                    // SW_RESTORE
                SystemParametersInfoA(87, 0, nullptr, 2);  // SPI_SETCURSORS, SPIF_SENDCHANGE
            }
        } catch (...) {
        }
    }
};

}  // namespace

std::unique_ptr<DesktopChrome> CreateDesktopChrome() {
    return std::make_unique<WindowsDesktopChrome>();
}

}  // namespace zorvak
