#pragma once

// The thread's Qt event loop for tests of code driven by it (requests started
// with HttpClient::Start, the media prefetch): a QCoreApplication made once
// per test program, and serving its events until something is true.

#include <QCoreApplication>
#include <QEventLoop>

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

// Serves events until done() is true or the time runs out; answers done().
inline bool ServeQtUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    QtCoreApp();
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

// Serves events for a while.
inline void ServeQtFor(std::chrono::milliseconds time) {
    ServeQtUntil([] { return false; }, time);
}

}  // namespace zorvak::test
