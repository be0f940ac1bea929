#include "playback/presenters/cover.h"

#include <QPainter>
#include <QWidget>

namespace zorvak {
namespace {

// The cover's native child window: paints the frame (stretched) or black.
class CoverPane final : public QWidget {
public:
    CoverPane(QWidget* parent, const QPixmap& frame) : QWidget(parent), frame_(frame) {
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

Cover::Cover(QWidget& window, std::function<void()> revealed)
    : window_(window), revealedCallback_(std::move(revealed)) {
    timeout_.setSingleShot(true);
    QObject::connect(&timeout_, &QTimer::timeout, [this] { Reveal(); });
}

Cover::~Cover() {
    delete pane_.data();
}

void Cover::Lay() {
    laid_ = true;
    revealed_ = !waitsForFirstFrame_ || firstFrameReady_;
    if (revealed_) return;
    // The content draws under the cover, unseen, until its first frame is in.
    delete pane_.data();
    pane_ = new CoverPane(&window_, frame_);
    pane_->setGeometry(window_.rect());
    pane_->raise();
    pane_->show();
    timeout_.start(kRevealTimeoutMs);
}

void Cover::Lift() {
    laid_ = false;
    timeout_.stop();
    delete pane_.data();
}

void Cover::FirstFrameReady() {
    firstFrameReady_ = true;
    if (laid_) Reveal();
}

void Cover::Reveal() {
    timeout_.stop();
    if (revealed_) return;
    revealed_ = true;
    if (pane_ != nullptr) pane_->hide();
    if (revealedCallback_) revealedCallback_();
}

void Cover::KeepOnTop() {
    if (pane_ != nullptr && !revealed_) pane_->raise();
}

void Cover::Fit() {
    if (pane_ != nullptr) pane_->setGeometry(window_.rect());
}

void PaintHeldFrame(QWidget& widget, const QPixmap& frame) {
    QPainter painter(&widget);
    if (frame.isNull()) {
        painter.fillRect(widget.rect(), Qt::black);
    } else if (frame.size() == widget.size()) {
        painter.drawPixmap(0, 0, frame);
    } else {
        painter.drawPixmap(widget.rect(), frame);
    }
}

}  // namespace zorvak
