#include "playback/presenters/backdrop.h"

#include <QGuiApplication>
#include <QPalette>
#include <QScreen>

namespace zorvak {

Backdrop::Backdrop()
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowDoesNotAcceptFocus) {
    setObjectName("Backdrop");
    setAttribute(Qt::WA_ShowWithoutActivating);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(true);
    setCursor(Qt::BlankCursor);
}

void Backdrop::ShowBackdrop() {
    if (QScreen* screen = QGuiApplication::primaryScreen()) setGeometry(screen->geometry());
    if (isVisible()) return;
    // Shown before the presenter windows, so it lies beneath them; it takes no
    // focus (the keys stay with the presenter or the control window).
    setWindowState(Qt::WindowFullScreen);
    show();
}

void Backdrop::HideBackdrop() {
    hide();
}

}  // namespace zorvak
