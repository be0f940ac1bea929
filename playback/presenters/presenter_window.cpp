#include "playback/presenters/presenter_window.h"

#include "playback/presenters/backdrop.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPalette>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <climits>
#include <stdexcept>

namespace zorvak {
namespace {

// Paints a frame (stretched) or black over the whole presenter window.
class Cover final : public QWidget {
public:
    Cover(QWidget* parent, const QPixmap& frame) : QWidget(parent), frame_(frame) {
        setObjectName("Cover");
        setAttribute(Qt::WA_NativeWindow);
        setAttribute(Qt::WA_DontCreateNativeAncestors);
        setAttribute(Qt::WA_OpaquePaintEvent);
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void paintEvent(QPaintEvent*) override { PaintHeldFrame(*this, frame_); }

private:
    QPixmap frame_;
};

}  // namespace

PresenterWindow::PresenterWindow(const char* className, const QString& caption)
    // Stay-on-top is part of the window's flags from the start: changing the
    // flags of a window later re-creates its native window (and those of native
    // children such as the player surface, whose id the player draws into).
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      className_(className) {
    setObjectName(QString(className).mid(1));  // "frmFullScreenImg", ...
    setWindowTitle(caption);
    setAttribute(Qt::WA_DeleteOnClose, false);

    // FormCreate: a black background.
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(true);

    timShowTime.setTimerType(Qt::PreciseTimer);
    connect(&timShowTime, &QTimer::timeout, this, [this] {
        NoteEndCause(ItemEndCause::kTimeUp);
        CloseWindow();
    });
    revealTimer_.setSingleShot(true);
    connect(&revealTimer_, &QTimer::timeout, this, [this] { Reveal(); });

    qApp->installEventFilter(this);
}

PresenterWindow::~PresenterWindow() {
    qApp->removeEventFilter(this);
}

void PresenterWindow::ArmDisplayTimer(int seconds) {
    timShowTime.stop();
    if (seconds <= 0) return;
    const int maxSeconds = INT_MAX / 1000;
    timShowTime.setInterval((seconds > maxSeconds ? maxSeconds : seconds) * 1000);
    timShowTime.start();
}

void PresenterWindow::SetStayOnTop() {
    if (!(windowFlags() & Qt::WindowStaysOnTopHint)) {
        setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);
    }
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
    revealed_ = !waitsForFirstFrame_ || firstFrameReady_;
    if (!revealed_) {
        // The content draws under the cover, unseen, until its first frame is in.
        delete cover_;
        cover_ = new Cover(this, coverFrame_);
        cover_->setGeometry(rect());
        cover_->raise();
        cover_->show();
        revealTimer_.start(kRevealTimeoutMs);
    }
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

    timShowTime.stop();
    revealTimer_.stop();
    hide();
    delete cover_;
    cover_ = nullptr;
    setWindowModality(Qt::NonModal);
}

void PresenterWindow::FirstFrameReady() {
    firstFrameReady_ = true;
    if (modalLoop_ != nullptr) Reveal();
}

void PresenterWindow::Reveal() {
    revealTimer_.stop();
    if (revealed_) return;
    revealed_ = true;
    if (cover_ != nullptr) cover_->hide();
    TellFirstFrameShown();
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
    if (event->type() == QEvent::Paint && revealed_) TellFirstFrameShown();
    return handled;
}

void PresenterWindow::KeepCoverOnTop() {
    if (cover_ != nullptr && !revealed_) cover_->raise();
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
            FormKeyPress(static_cast<QKeyEvent*>(event));
        }
    }
    return false;
}

void PresenterWindow::FormKeyPress(QKeyEvent* event) {
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
    if (frameKeeper_ && IsShownModally() && revealed_) {
        // Before FormClose: a video still shows its frame now.
        const QPixmap frame = GrabShownFrame();
        if (!frame.isNull()) frameKeeper_(frame);
    }
    FormClose();
    if (modalLoop_ != nullptr) {
        closeRequested_ = true;
        modalLoop_->exit(0);
    }
    closing_ = false;
}

void PresenterWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (cover_ != nullptr) cover_->setGeometry(rect());
}

// A close asked for by the window system (a window manager's close button).
void PresenterWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    CloseWindow();
}

}  // namespace zorvak
