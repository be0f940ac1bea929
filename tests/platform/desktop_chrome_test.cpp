// The concealment of the desktop's panels (platform/desktop_chrome_linux.cpp)
// on the test program's own X server, through Xlib alone.

// Qt's headers come before Xlib's, whose macros (Bool, Status, None) clash
// with them.
#include <gtest/gtest.h>

#include "platform/platform.h"
#include "tests/support/display.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <thread>

namespace zorvak {
namespace {

// Panels (windows of type _NET_WM_WINDOW_TYPE_DOCK) are unmapped on hide and
// mapped again on show; other windows stay. Two hides and one show bring
// everything back.
TEST(X11DesktopChrome, UnmapsDocksAndMapsThemAgain) {
    ZORVAK_NEEDS_X_SERVER();
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    Window root = DefaultRootWindow(display);
    auto make = [&](bool dock) {
        Window w = XCreateSimpleWindow(display, root, 0, 0, 1280, 30, 0, 0, 0);
        if (dock) {
            Atom type = XInternAtom(display, "_NET_WM_WINDOW_TYPE", False);
            Atom value = XInternAtom(display, "_NET_WM_WINDOW_TYPE_DOCK", False);
            XChangeProperty(display, w, type, XA_ATOM, 32, PropModeReplace,
                            reinterpret_cast<unsigned char*>(&value), 1);
        }
        XMapWindow(display, w);
        return w;
    };
    Window panel = make(true);
    Window normal = make(false);
    XSync(display, False);
    auto mapped = [&](Window w) {
        XWindowAttributes attributes{};
        XGetWindowAttributes(display, w, &attributes);
        return attributes.map_state != IsUnmapped;
    };

    std::unique_ptr<DesktopChrome> chrome = CreateDesktopChrome();
    chrome->SetDesktopChrome(false);
    chrome->SetDesktopChrome(false);
    XSync(display, False);
    EXPECT_FALSE(mapped(panel));
    EXPECT_TRUE(mapped(normal));
    chrome->SetDesktopChrome(true);
    XSync(display, False);
    EXPECT_TRUE(mapped(panel));
    EXPECT_TRUE(mapped(normal));

    // A panel that went away while hidden is no error.
    chrome->SetDesktopChrome(false);
    XDestroyWindow(display, panel);
    XSync(display, False);
    chrome->SetDesktopChrome(true);
    XSync(display, False);
    EXPECT_TRUE(mapped(normal));
    chrome.reset();
    XDestroyWindow(display, normal);
    XCloseDisplay(display);
}

// X errors of the concealment (a panel that went away while hidden) never end
// the process, whatever Xlib's process-wide error handler is at that moment:
// another thread keeps setting Xlib's default, which ends the process on any
// error, as the video player's X11 output does when it closes.
TEST(X11DesktopChrome, ErrorsNeverReachXlibsHandler) {
    ZORVAK_NEEDS_X_SERVER();
    // The child is forked from this process and uses its X server; a
    // re-executed child would start a server of its own and, on a loaded
    // machine, not always reach it.
    GTEST_FLAG_SET(death_test_style, "fast");
    auto run = [] {
        Display* display = XOpenDisplay(nullptr);
        if (display == nullptr) std::_Exit(2);
        Atom type = XInternAtom(display, "_NET_WM_WINDOW_TYPE", False);
        Atom value = XInternAtom(display, "_NET_WM_WINDOW_TYPE_DOCK", False);
        std::atomic<bool> stop{false};
        std::thread resetter([&] {
            while (!stop) XSetErrorHandler(nullptr);
        });
        std::unique_ptr<DesktopChrome> chrome = CreateDesktopChrome();
        for (int i = 0; i < 200; ++i) {
            Window panel = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1280,
                                               30, 0, 0, 0);
            XChangeProperty(display, panel, type, XA_ATOM, 32, PropModeReplace,
                            reinterpret_cast<unsigned char*>(&value), 1);
            XMapWindow(display, panel);
            XSync(display, False);
            chrome->SetDesktopChrome(false);
            XDestroyWindow(display, panel);
            XSync(display, False);
            chrome->SetDesktopChrome(true);  // maps a window that no longer exists
        }
        stop = true;
        resetter.join();
        std::_Exit(0);
    };
    EXPECT_EXIT(run(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace zorvak
