// Desktop concealment on Windows: the taskbar window of class "Shell_TrayWnd"
// is hidden and restored, and the system's normal arrow pointer is replaced by
// the fully transparent cursor resource NEWCUR. The pointer swap is
// system-wide and outlives the process; showing reloads every pointer from the
// user's settings.

#include <windows.h>

#include <memory>

#include "platform/platform_windows.h"

namespace zorvak {

HCURSOR CreateTransparentPointer() {
    // The resource's cursor is shared (owned by the system, the same handle at
    // every load); SetSystemCursor destroys what it is given, so it gets a copy.
    HCURSOR shared = LoadCursorA(GetModuleHandleA(nullptr), "newcur");
    if (shared == nullptr) return nullptr;
    return CopyCursor(shared);
}

void WindowsDesktopChrome::SetDesktopChrome(bool show) {
    try {
        HWND taskbar = calls_.findWindow("Shell_TrayWnd", nullptr);
        if (!show) {
            if (HCURSOR pointer = CreateTransparentPointer()) {
                if (!calls_.setSystemCursor(pointer, 32512))  // OCR_NORMAL
                    DestroyCursor(pointer);  // refused: still ours
            }
            calls_.showWindow(taskbar, 0);  // SW_HIDE
        } else {
            calls_.showWindow(taskbar, 9);                         // SW_RESTORE
            calls_.systemParametersInfo(87, 0, nullptr, 2);        // SPI_SETCURSORS, SPIF_SENDCHANGE
        }
    } catch (...) {
    }
}

std::unique_ptr<DesktopChrome> CreateDesktopChrome() {
    return std::make_unique<WindowsDesktopChrome>();
}

}  // namespace zorvak
