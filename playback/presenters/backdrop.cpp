#include "playback/presenters/backdrop.h"

#include "playback/presenters/cover.h"

#include <QGuiApplication>
#include <QPalette>
#include <QScreen>

namespace zorvak {

Backdrop::Backdrop()
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowDoesNotAcceptFocus) {
    setObjectName("Backdrop");
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_OpaquePaintEvent);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setCursor(Qt::BlankCursor);
}

void Backdrop::ShowBackdrop() {
    if (QScreen* screen = QGuiApplication::primaryScreen()) setGeometry(screen->geometry());
    if (isVisible()) return;
    ReleaseFrame();
    // Shown before the presenter windows, so it lies beneath them; it takes no
    // focus (the keys stay with the presenter or the control window).
    setWindowState(Qt::WindowFullScreen);
    show();
}

void Backdrop::HideBackdrop() {
    hide();
    frame_ = QPixmap();
}

void Backdrop::HoldFrame(const QPixmap& frame) {
    frame_ = frame;
    // Painted now, not at the next turn of the event loop: the presenter's
    // window is about to go, and the window system asks for this window's
    // contents the moment it does.
    if (isVisible()) repaint();
}

void Backdrop::ReleaseFrame() {
    if (frame_.isNull()) return;
    frame_ = QPixmap();
    if (isVisible()) update();
}

void Backdrop::paintEvent(QPaintEvent*) { PaintHeldFrame(*this, frame_); }

}  // namespace zorvak
