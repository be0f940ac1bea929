#include "tests/support/display.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "playback/presenters/window_presenters.h"

// Last: Xlib's macros (Bool, Status, None) clash with Qt's names.
#include <X11/Xlib.h>

namespace zorvak::test {
namespace {

bool EnvIsOne(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && std::string(value) == "1";
}

// The state of the program's display, set up once.
struct DisplayState {
    bool tried = false;
    bool ready = false;
    std::string reason;
    pid_t server = 0;  // the private Xvfb, 0 when none runs
    QApplication* app = nullptr;  // lives until the environment's TearDown
    bool appTried = false;
    bool appReady = false;
};

DisplayState& State() {
    static DisplayState state;
    return state;
}

void StopServer() {
    DisplayState& s = State();
    if (s.server > 0) {
        ::kill(s.server, SIGTERM);
        ::waitpid(s.server, nullptr, 0);
        s.server = 0;
    }
}

// Starts Xvfb on the first free display number; its number as ":N", or
// std::nullopt with the reason set.
std::optional<std::string> StartPrivateXvfb(std::string& reason) {
    int fds[2];
    if (::pipe(fds) != 0) {
        reason = std::string("pipe: ") + std::strerror(errno);
        return std::nullopt;
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        reason = std::string("fork: ") + std::strerror(errno);
        ::close(fds[0]);
        ::close(fds[1]);
        return std::nullopt;
    }
    if (pid == 0) {
        // Never outlive the test process.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(1);
        ::close(fds[0]);
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) {
            ::dup2(null, 0);
            ::dup2(null, 1);
            ::dup2(null, 2);
        }
        const std::string fd = std::to_string(fds[1]);
        // -noreset: an X server resets when its last client leaves, and
        // refuses connections meanwhile; the check that it answers is such a
        // client, and a test's first connection may come just after it.
        ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x720x24",
                 "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    State().server = pid;
    std::string number;
    bool timedOut = true;
    pollfd p{fds[0], POLLIN, 0};
    while (::poll(&p, 1, 10000) > 0) {
        char c = 0;
        if (::read(fds[0], &c, 1) != 1 || c == '\n') {
            timedOut = false;
            break;
        }
        number += c;
    }
    ::close(fds[0]);
    if (!number.empty()) return ":" + number;

    // The pipe closed without a number: Xvfb ended (or could not be run).
    int status = 0;
    bool ended = false;
    for (int i = 0; i < 200 && !timedOut && !ended; ++i) {
        ended = ::waitpid(pid, &status, WNOHANG) == pid;
        if (!ended) ::usleep(10000);
    }
    if (ended) State().server = 0;
    StopServer();
    if (ended && WIFEXITED(status) && WEXITSTATUS(status) == 127)
        reason = "Xvfb cannot be run (is it installed and on PATH?)";
    else if (ended)
        reason = "Xvfb ended without reporting a display (status " + std::to_string(status) + ")";
    else
        reason = "Xvfb reported no display within 10 seconds";
    return std::nullopt;
}

// Whether an X client can connect to $DISPLAY.
bool ServerAnswers() {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return false;
    XCloseDisplay(display);
    return true;
}

// After the last test: the application goes while its X server still runs
// (its web engine's threads and helper processes with it), then the server.
class DisplayEnvironment final : public ::testing::Environment {
public:
    void TearDown() override {
        DisplayState& s = State();
        if (s.app != nullptr) {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            delete s.app;
            s.app = nullptr;
            s.appReady = false;
        }
        StopServer();
        s.ready = false;
        s.reason = "the display of the test program has ended";
    }
};

const bool kEnvironmentAdded =
    (::testing::AddGlobalTestEnvironment(new DisplayEnvironment), true);

}  // namespace

bool DisplayRequired() { return EnvIsOne("ZORVAK_REQUIRE_DISPLAY"); }

std::string NoDisplayReason() { return State().reason; }

bool HaveXServer() {
    DisplayState& s = State();
    if (s.tried) return s.ready;
    s.tried = true;
    if (EnvIsOne("ZORVAK_TEST_SHARED_DISPLAY")) {
        const char* display = std::getenv("DISPLAY");
        if (display == nullptr || *display == '\0') {
            s.reason = "ZORVAK_TEST_SHARED_DISPLAY=1 but DISPLAY is not set";
            return false;
        }
    } else {
        std::optional<std::string> own = StartPrivateXvfb(s.reason);
        if (!own) return false;
        ::setenv("DISPLAY", own->c_str(), 1);
    }
    if (!ServerAnswers()) {
        s.reason = std::string("the X server ") + std::getenv("DISPLAY") + " does not answer";
        StopServer();
        return false;
    }
    s.ready = true;
    return true;
}

QApplication* App() {
    DisplayState& s = State();
    if (s.appTried) return s.appReady ? s.app : nullptr;
    s.appTried = true;
    if (!HaveXServer()) return nullptr;
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    // A runtime folder of the process's own, made before the application.
    static QTemporaryDir runtimeDir;
    ::setenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimeDir.path()).constData(), 1);
    QFile::setPermissions(runtimeDir.path(),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    // No session bus unless the environment names one. With the variable
    // unset, libdbus autolaunches one by forking this process, threads' locks
    // and all: the accessibility bridge asks for the bus on the GUI thread the
    // first time a web view is laid out, and a forked child that deadlocks
    // (as AddressSanitizer's allocator lock can make it) blocks that thread for
    // good. An address where nothing listens fails at once, as autolaunch
    // fails without dbus-launch, with no process forked. That address
    // comes with ZORVAK_TEST_NO_SESSION_BUS=1, for tests that ask whether a
    // session bus may be there.
    if (std::getenv("DBUS_SESSION_BUS_ADDRESS") == nullptr) {
        const std::string address =
            "unix:path=" + QFile::encodeName(runtimeDir.path()).toStdString() + "/no-session-bus";
        ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
        ::setenv("ZORVAK_TEST_NO_SESSION_BUS", "1", 1);
    }
    PrepareWebEngineEnvironment();
    // The program's own name, as its command line gave it.
    static std::string name = program_invocation_short_name;
    static int argc = 1;
    static char* argv[] = {name.data(), nullptr};
    s.app = new QApplication(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    if (QGuiApplication::primaryScreen() == nullptr) {
        s.reason = "the application sees no screen on " + std::string(std::getenv("DISPLAY"));
        return nullptr;
    }
    (void)kEnvironmentAdded;
    s.appReady = true;
    return s.app;
}

namespace {

// Whether some client (a window manager) redirects the root window's map and
// configure requests.
bool RootIsRedirected(Display* display) {
    XWindowAttributes attributes{};
    if (XGetWindowAttributes(display, DefaultRootWindow(display), &attributes) == 0) return false;
    return (attributes.all_event_masks & SubstructureRedirectMask) != 0;
}

}  // namespace

WindowManager::WindowManager(const std::string& program) {
    if (!HaveXServer()) return;
    const pid_t pid = ::fork();
    if (pid < 0) return;
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);  // never outlive the test process
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) {
            ::dup2(null, 1);
            ::dup2(null, 2);
        }
        ::execlp(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    pid_ = pid;
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return;
    // A manager redirects the root's map requests early in its start and
    // manages windows once its event loop runs (a request that comes while it
    // still starts may be dropped): a probe window mapped, and mapped again
    // every half second, gets its WM_STATE once the manager really runs.
    const Atom wmState = XInternAtom(display, "WM_STATE", False);
    Window probe = 0;
    for (int i = 0; i < 200 && !running_; ++i) {
        if (probe == 0 && RootIsRedirected(display)) {
            probe = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 8, 8, 0, 0, 0);
            XMapWindow(display, probe);
            XFlush(display);
        }
        if (probe != 0) {
            Atom type = 0;
            int format = 0;
            unsigned long items = 0, after = 0;
            unsigned char* data = nullptr;
            XGetWindowProperty(display, probe, wmState, 0, 2, False, AnyPropertyType, &type,
                               &format, &items, &after, &data);
            if (data != nullptr) XFree(data);
            running_ = type != 0;
        }
        if (!running_) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                break;
            }
            ::usleep(50 * 1000);
            // A manager still starting may drop a map request: ask again.
            if (probe != 0 && i % 10 == 9) {
                XMapWindow(display, probe);
                XFlush(display);
            }
        }
    }
    if (probe != 0) XDestroyWindow(display, probe);
    XCloseDisplay(display);
}

WindowManager::~WindowManager() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
}

}  // namespace zorvak::test
