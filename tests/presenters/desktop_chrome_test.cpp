// Qt's headers come before Xlib's, whose macros (Bool, Status, None) clash
// with them.
#include "presenter_test_env.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace zorvak {
namespace {

// Panels (windows of type _NET_WM_WINDOW_TYPE_DOCK) are unmapped on hide and
// mapped again on show; other windows stay. Two hides and one show bring
// everything back.
TEST(X11DesktopChrome, UnmapsDocksAndMapsThemAgain) {
    ZORVAK_REQUIRE_GUI();
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

}  // namespace
}  // namespace zorvak
