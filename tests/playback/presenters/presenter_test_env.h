#pragma once

// Helpers of the presenters' window tests: screenshots, waiting for the
// screen, keys, clips. Each test process has its own 1280 x 720 display
// (tests/support/display.h), so that windows of tests running in parallel
// never cover one another's screenshots.

#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>

#include "core/app_directory.h"
#include "platform/platform.h"
#include "playback/presenters/window_presenters.h"
#include "tests/support/display.h"
#include "tests/support/fakes.h"
#include "tests/support/qt_core_loop.h"
#include "tests/support/temp_folder.h"

namespace zorvak::test {

inline QImage GrabScreen() {
    return QGuiApplication::primaryScreen()->grabWindow(0).toImage();
}

// The picture as a file of that format would hold it ("png", "jpeg", ...).
inline QByteArray Encoded(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

// Writes bytes as the whole file at path (replacing what it held).
inline bool WriteFile(const std::string& path, const QByteArray& bytes) {
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

inline bool Near(QColor a, QColor b, int tolerance = 48) {
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

inline std::string Describe(QColor c) {
    return "rgb(" + std::to_string(c.red()) + "," + std::to_string(c.green()) + "," +
           std::to_string(c.blue()) + ")";
}

// Serves events for ms milliseconds (tests/support/qt_core_loop.h).
inline void Spin(int ms) { ServeQtFor(std::chrono::milliseconds(ms)); }

// Serves events until done() holds or timeoutMs pass; returns done().
inline bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
    return ServeQtUntil(done, std::chrono::milliseconds(timeoutMs));
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
