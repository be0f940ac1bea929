#pragma once

// The X display and the QApplication of a window-test program.
//
// Each window-test process has an X server of its own: the first test that
// needs one starts a private Xvfb (1280 x 720, 24 bits, on the first free
// display number, which Xvfb reports through -displayfd) and points DISPLAY
// at it, so that windows of tests running in parallel never cover one another
// and never take one another's tray. With ZORVAK_TEST_SHARED_DISPLAY=1 the
// tests use $DISPLAY instead.
//
// After the last test the QApplication goes, with the deletions it still has
// posted, while its X server runs; then the server. The server also ends when
// the test process dies.
//
// The application gets no D-Bus session bus unless DBUS_SESSION_BUS_ADDRESS
// names one (display.cpp says why).
//
// A test that cannot have a display skips itself; with
// ZORVAK_REQUIRE_DISPLAY=1 set it fails instead, saying why.

#include <QApplication>

#include <string>

namespace zorvak::test {

// True once DISPLAY names an X server that answers: the private server
// (started on the first call) or, when shared, $DISPLAY.
bool HaveXServer();

// The one application object of the program on that server, made on the
// first call; null when there is no X server.
QApplication* App();

// Why there is no X server ("" while there is one).
std::string NoDisplayReason();

// Whether ZORVAK_REQUIRE_DISPLAY=1 turns a missing display into a failure.
bool DisplayRequired();

// A window manager from the system (openbox, matchbox-window-manager, ...)
// managing the program's display for the lifetime of the object: started on
// $DISPLAY and waited for until it manages windows (a probe window mapped
// once it owns the WM_S0 selection has been given its WM_STATE), then ended,
// with its process, when the object goes.
class WindowManager {
public:
    explicit WindowManager(const std::string& program);
    ~WindowManager();
    WindowManager(const WindowManager&) = delete;
    WindowManager& operator=(const WindowManager&) = delete;

    // False when it could not be started or did not take the screen in time.
    bool Running() const { return running_; }

private:
    int pid_ = -1;
    bool running_ = false;
};

}  // namespace zorvak::test

#define ZORVAK_DISPLAY_OR_STOP_(available)                                                  \
    do {                                                                                    \
        if (!(available)) {                                                                 \
            if (::zorvak::test::DisplayRequired())                                          \
                FAIL() << "no X display (ZORVAK_REQUIRE_DISPLAY=1): "                        \
                       << ::zorvak::test::NoDisplayReason();                                \
            GTEST_SKIP() << "no X display: " << ::zorvak::test::NoDisplayReason();          \
        }                                                                                   \
    } while (0)

// Stops the test (a skip, or a failure when a display is required) unless the
// QApplication is up on its X server.
#define ZORVAK_NEEDS_DISPLAY() ZORVAK_DISPLAY_OR_STOP_(::zorvak::test::App() != nullptr)

// Stops the test likewise unless DISPLAY names an X server; makes no
// QApplication (for tests that talk to the server through Xlib only).
#define ZORVAK_NEEDS_X_SERVER() ZORVAK_DISPLAY_OR_STOP_(::zorvak::test::HaveXServer())
