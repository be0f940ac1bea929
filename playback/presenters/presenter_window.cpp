#include "playback/presenters/presenter_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPalette>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <climits>
#include <stdexcept>

namespace zorvak {

PresenterWindow::PresenterWindow(const char* objectName, const QString& caption)
    // Stay-on-top is part of the window's flags from the start: changing the
    // flags of a window later re-creates its native window (and those of native
    // children such as the player surface, whose id the player draws into).
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      cover_(*this, [this] { TellFirstFrameShown(); }) {
    setObjectName(objectName);
    setWindowTitle(caption);
    setAttribute(Qt::WA_DeleteOnClose, false);

    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(true);

    displayTimer_.setTimerType(Qt::PreciseTimer);
    connect(&displayTimer_, &QTimer::timeout, this, [this] {
        NoteEndCause(ItemEndCause::kTimeUp);
        CloseWindow();
    });

    qApp->installEventFilter(this);
}

PresenterWindow::~PresenterWindow() {
    qApp->removeEventFilter(this);
}

void PresenterWindow::ArmDisplayTimer(int seconds) {
    displayTimer_.stop();
    if (seconds <= 0) return;
    const int maxSeconds = INT_MAX / 1000;
    displayTimer_.setInterval((seconds > maxSeconds ? maxSeconds : seconds) * 1000);
    displayTimer_.start();
}

void PresenterWindow::CoverScreen() {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen != nullptr) setGeometry(screen->geometry());
}

void PresenterWindow::ShowModal() {
    if (isVisible() || modalLoop_ != nullptr) {
        throw std::logic_error("Cannot make a visible window modal");
    }
    setWindowModality(Qt::ApplicationModal);
    // Without a window manager the full-screen state alone does not resize the
    // window, so it gets the screen's geometry as well.
    CoverScreen();
    winId();
    if (QWindow* window = windowHandle()) {
        QWindow* below = shownAbove_ != nullptr && shownAbove_->isVisible()
                             ? shownAbove_->windowHandle()
                             : nullptr;
        window->setTransientParent(below);
    }
    firstFrameTold_ = false;
    cover_.Lay();
    showFullScreen();
    raise();
    activateWindow();
    setFocus(Qt::ActiveWindowFocusReason);

    QEventLoop loop;
    modalLoop_ = &loop;
    closeRequested_ = false;
    endCause_ = ItemEndCause::kUnknown;
    endDetail_.clear();
    loop.exec(QEventLoop::DialogExec);
    modalLoop_ = nullptr;

    displayTimer_.stop();
    hide();
    cover_.Lift();
    setWindowModality(Qt::NonModal);
}

void PresenterWindow::TellFirstFrameShown() {
    if (firstFrameTold_ || modalLoop_ == nullptr || closeRequested_) return;
    firstFrameTold_ = true;
    QTimer::singleShot(0, this, [this] {
        if (modalLoop_ != nullptr && !closeRequested_ && firstFrameShown_) firstFrameShown_();
    });
}

bool PresenterWindow::event(QEvent* event) {
    const bool handled = QWidget::event(event);
    // The window's own first paint, when no cover lies over it.
    if (event->type() == QEvent::Paint && cover_.Revealed()) TellFirstFrameShown();
    return handled;
}

QPixmap PresenterWindow::GrabShownFrame() const {
    QScreen* screen = this->screen();
    if (screen == nullptr || !isVisible()) return QPixmap();
    const QRect area = geometry();
    return screen->grabWindow(0, area.x(), area.y(), area.width(), area.height());
}

bool PresenterWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(watched);
        if (widget == this || isAncestorOf(widget)) {
            KeyPreview(static_cast<QKeyEvent*>(event));
        }
    }
    return false;
}

void PresenterWindow::KeyPreview(QKeyEvent* event) {
    if (event->text().isEmpty()) return;
    NoteEndCause(event->key() == Qt::Key_Escape ? ItemEndCause::kEscape : ItemEndCause::kKey);
    CloseWindow();
}

void PresenterWindow::NoteEndCause(ItemEndCause cause, std::string detail) {
    if (modalLoop_ == nullptr || closeRequested_ || endCause_ != ItemEndCause::kUnknown) return;
    endCause_ = cause;
    endDetail_ = std::move(detail);
}

void PresenterWindow::CloseWindow() {
    // A close nobody gave a cause for comes from code: CloseAllPresenters.
    NoteEndCause(ItemEndCause::kStop);
    if (closing_) return;
    closing_ = true;
    if (frameKeeper_ && IsShownModally() && cover_.Revealed()) {
        // Before WindowClosing: a video still shows its frame now.
        const QPixmap frame = GrabShownFrame();
        if (!frame.isNull()) frameKeeper_(frame);
    }
    WindowClosing();
    if (modalLoop_ != nullptr) {
        closeRequested_ = true;
        modalLoop_->exit(0);
    }
    closing_ = false;
}

void PresenterWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    cover_.Fit();
}

// A close asked for by the window system (a window manager's close button).
void PresenterWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    CloseWindow();
}

}  // namespace zorvak
