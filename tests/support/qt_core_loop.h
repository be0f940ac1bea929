#pragma once

// The thread's Qt event loop for tests of code driven by it (requests started
// with HttpClient::Start, the media prefetch, presenter and client windows):
// the application object (a QCoreApplication made once per test program when
// the program has none yet, such as the window tests' QApplication), and the
// one way the tests serve its events: for a time, or until something is true
// with a bound on the wait.
//
// Events are served by a QEventLoop, as the program's own loop serves them:
// what a test posts or deletes later is handled as it would be in the running
// program, and the thread sleeps while nothing is due.

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <functional>

namespace zorvak::test {

inline QCoreApplication& QtCoreApp() {
    if (QCoreApplication::instance()) return *QCoreApplication::instance();
    static int argc = 1;
    static char name[] = "zorvak-tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

namespace detail {

// Serves the events due now and those that come within slice. After
// QCoreApplication::quit() outside the application's exec() no event loop
// runs (exec() answers -1 at once): the events are then served directly.
inline void ServeSlice(std::chrono::milliseconds slice) {
    QEventLoop loop;
    QTimer::singleShot(slice, &loop, &QEventLoop::quit);
    if (loop.exec() == -1) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, int(slice.count()));
    }
}

}  // namespace detail

// Serves events until done() is true or the time runs out, looking at done()
// at least every 10 ms; answers done().
inline bool ServeQtUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    using namespace std::chrono;
    QtCoreApp();
    const auto end = steady_clock::now() + limit;
    while (!done()) {
        const auto left = duration_cast<milliseconds>(end - steady_clock::now());
        if (left <= milliseconds(0)) return done();
        detail::ServeSlice(std::min(left, milliseconds(10)));
    }
    return true;
}

// Serves events for a while; with no time, the events due now.
inline void ServeQtFor(std::chrono::milliseconds time) {
    using namespace std::chrono;
    QtCoreApp();
    const auto end = steady_clock::now() + time;
    do {
        const auto left = duration_cast<milliseconds>(end - steady_clock::now());
        detail::ServeSlice(std::clamp(left, milliseconds(0), milliseconds(10)));
    } while (steady_clock::now() < end);
}

}  // namespace zorvak::test
