// The tray icon docks with the notification area's host, and docks again with
// a new host after the old one went away (the panel was restarted).

#include "client_rig.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace zorvak::test {
namespace {

// A minimal notification-area host: owns the tray selection of screen 0,
// announces itself with the MANAGER message and counts dock requests.
class FakeTrayHost {
public:
    explicit FakeTrayHost(Display* display) : display_(display) {
        Window root = DefaultRootWindow(display_);
        selection_ = XInternAtom(display_, "_NET_SYSTEM_TRAY_S0", False);
        opcode_ = XInternAtom(display_, "_NET_SYSTEM_TRAY_OPCODE", False);
        window_ = XCreateSimpleWindow(display_, root, 0, 0, 1, 1, 0, 0, 0);
        XSetSelectionOwner(display_, selection_, window_, CurrentTime);
        XEvent ev{};
        ev.xclient.type = ClientMessage;
        ev.xclient.window = root;
        ev.xclient.message_type = XInternAtom(display_, "MANAGER", False);
        ev.xclient.format = 32;
        ev.xclient.data.l[0] = CurrentTime;
        ev.xclient.data.l[1] = static_cast<long>(selection_);
        ev.xclient.data.l[2] = static_cast<long>(window_);
        XSendEvent(display_, root, False, StructureNotifyMask, &ev);
        XFlush(display_);
    }
    ~FakeTrayHost() {
        XDestroyWindow(display_, window_);
        XFlush(display_);
    }

    // Reads the requests that arrived; the number of dock requests so far.
    int DockRequests() {
        while (XPending(display_) > 0) {
            XEvent ev;
            XNextEvent(display_, &ev);
            if (ev.type == ClientMessage && ev.xclient.window == window_ &&
                ev.xclient.message_type == opcode_ && ev.xclient.data.l[1] == 0)
                ++docks_;
        }
        return docks_;
    }

private:
    Display* display_;
    Atom selection_ = 0;
    Atom opcode_ = 0;
    Window window_ = 0;
    int docks_ = 0;
};

TEST(Tray, TheIconDocksAgainWhenTheTrayHostComesBack) {
    ZORVAK_NEEDS_DISPLAY();
    if (std::getenv("DBUS_SESSION_BUS_ADDRESS") != nullptr &&
        std::getenv("ZORVAK_TEST_NO_SESSION_BUS") == nullptr)
        GTEST_SKIP() << "a session bus may carry the tray icon instead of the X tray";
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    ClientRig rig;
    rig.WriteIni("[PLAYLIST]\nKEYWORD=a\nnoautorun=1\n");
    {
        auto host = std::make_unique<FakeTrayHost>(display);
        Client& c = rig.Start();
        EXPECT_TRUE(c.TrayIcon().isVisible());
        EXPECT_TRUE(ServeUntil([&] { return host->DockRequests() >= 1; }));

        // The host goes away and a new one starts: the icon docks with it.
        host.reset();
        ServeEvents(100);
        auto next = std::make_unique<FakeTrayHost>(display);
        EXPECT_TRUE(ServeUntil([&] { return next->DockRequests() >= 1; }));
        rig.client.reset();
    }
    XCloseDisplay(display);
}

}  // namespace
}  // namespace zorvak::test
