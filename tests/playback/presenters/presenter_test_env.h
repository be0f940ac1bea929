#pragma once

// Window tests of the presenters run on a private Xvfb server (1280 × 720, 24
// bits) that the test process starts for itself, so that windows of tests
// running in parallel never cover one another's screenshots. They run only
// where an X display is available (DISPLAY set, as the test command does) and
// are skipped otherwise. ZORVAK_PRESENTERS_SHARED_DISPLAY=1 uses $DISPLAY
// itself instead of a private server.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <QApplication>
#include <QColor>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QPixmap>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdlib>
#include <functional>
#include <optional>
#include <string>

#include "core/app_directory.h"
#include "platform/platform.h"
#include "playback/presenters/window_presenters.h"
#include "tests/support/fakes.h"
#include "tests/support/temp_folder.h"

namespace zorvak::test {

inline pid_t& XvfbPid() {
    static pid_t pid = 0;
    return pid;
}

inline void StopXvfb() {
    pid_t pid = XvfbPid();
    if (pid > 0) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
        XvfbPid() = 0;
    }
}

// Starts Xvfb on the first free display number; returns ":N" or "" on failure.
inline std::string StartPrivateXvfb() {
    int fds[2];
    if (::pipe(fds) != 0) return {};
    pid_t pid = ::fork();
    if (pid < 0) return {};
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);  // never outlive the test process
        ::close(fds[0]);
        int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) {
            ::dup2(null, 1);
            ::dup2(null, 2);
        }
        const std::string fd = std::to_string(fds[1]);
        ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x720x24",
                 "-nolisten", "tcp", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    XvfbPid() = pid;
    std::atexit(StopXvfb);
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    while (::poll(&p, 1, 10000) > 0) {
        char c = 0;
        if (::read(fds[0], &c, 1) != 1 || c == '\n') break;
        number += c;
    }
    ::close(fds[0]);
    if (number.empty()) {
        StopXvfb();
        return {};
    }
    return ":" + number;
}

// The QApplication of the test process on an X display; false when there is
// none to be had.
inline bool StartGui() {
    static std::optional<bool> started;
    if (started) return *started;
    started = false;
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') return false;
    const char* shared = std::getenv("ZORVAK_PRESENTERS_SHARED_DISPLAY");
    if (shared == nullptr || std::string(shared) != "1") {
        const std::string own = StartPrivateXvfb();
        if (own.empty()) return false;
        ::setenv("DISPLAY", own.c_str(), 1);
    }
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    static QTemporaryDir runtime_dir;  // created before the application: a plain folder
    ::setenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime_dir.path()).constData(), 1);
    QFile::setPermissions(runtime_dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    PrepareWebEngineEnvironment();
    static int argc = 1;
    static char name[] = "presenters_tests";
    static char* argv[] = {name, nullptr};
    // Lives until the tests are over (GuiEnvironment below).
    new QApplication(argc, argv);
    started = QGuiApplication::primaryScreen() != nullptr;
    return *started;
}

// After the last test: the application goes (and with it the web engine's
// threads and helper processes) while its X server still runs, then the server.
class GuiEnvironment final : public ::testing::Environment {
public:
    void TearDown() override {
        if (QCoreApplication::instance() != nullptr) {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            delete QCoreApplication::instance();
        }
        StopXvfb();
    }
};

inline const bool kGuiEnvironmentAdded =
    (::testing::AddGlobalTestEnvironment(new GuiEnvironment), true);

#define ZORVAK_REQUIRE_GUI()                                                   \
    do {                                                                       \
        if (!::zorvak::test::StartGui()) GTEST_SKIP() << "no X display";    \
    } while (0)

inline QImage GrabScreen() {
    return QGuiApplication::primaryScreen()->grabWindow(0).toImage();
}

inline bool Near(QColor a, QColor b, int tolerance = 48) {
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

inline std::string Describe(QColor c) {
    return "rgb(" + std::to_string(c.red()) + "," + std::to_string(c.green()) + "," +
           std::to_string(c.blue()) + ")";
}

// Serves events for ms milliseconds.
inline void Spin(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// Serves events until done() holds or timeoutMs pass; returns done().
inline bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// Waits until the screen pixel at (x, y) comes near colour.
inline bool WaitForPixel(int x, int y, QColor colour, int timeoutMs) {
    return WaitFor([&] { return Near(GrabScreen().pixelColor(x, y), colour); }, timeoutMs);
}

// Runs fn once the current call has entered its event loop, after ms.
inline void After(int ms, std::function<void()> fn) {
    QTimer::singleShot(ms, qApp, std::move(fn));
}

// A key press and release delivered to widget as the window system would.
inline void SendKey(QWidget* widget, int key, const QString& text = QString()) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(widget, &press);
    QApplication::sendEvent(widget, &release);
}

// The widget that has the keyboard, or the active window.
inline QWidget* KeyTarget(QWidget* window) {
    QWidget* focus = QApplication::focusWidget();
    return focus != nullptr && (focus == window || window->isAncestorOf(focus)) ? focus : window;
}

// Top-level widgets of a presenter class now on screen.
inline int VisiblePresenterWindows(const char* className) {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        QString name = QString::fromLatin1(w->metaObject()->className()).section("::", -1);
        if (name == QLatin1String(className) && w->isVisible()) ++n;
    }
    return n;
}

inline int PresenterWindowsAlive(const char* className) {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        QString name = QString::fromLatin1(w->metaObject()->className()).section("::", -1);
        if (name == QLatin1String(className)) ++n;
    }
    return n;
}

// Writes a video clip of one colour with ffmpeg; false when ffmpeg fails.
inline bool MakeClip(const std::string& path, const char* colour, double seconds,
                     const char* size = "320x240") {
    const std::string command = "ffmpeg -nostdin -v error -y -f lavfi -i color=c=" +
                                std::string(colour) + ":size=" + size + ":rate=25:duration=" +
                                std::to_string(seconds) + " -pix_fmt yuv420p -c:v libx264 '" +
                                path + "' >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

// Settings for tests: no sound device is needed.
inline PresenterSettings TestSettings() {
    PresenterSettings settings;
    settings.player.audioOutput = "null";
    if (const char* vo = std::getenv("ZORVAK_TEST_VO")) settings.player.videoOutput = vo;
    return settings;
}

}  // namespace zorvak::test
