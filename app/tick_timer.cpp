#include "app/tick_timer.h"

namespace zorvak {

TickTimer::TickTimer(int intervalMs, std::function<void()> handler, QObject* parent)
    : QObject(parent), handler_(std::move(handler)) {
    timer_.setInterval(intervalMs);
    connect(&timer_, &QTimer::timeout, this, &TickTimer::PostTick);
}

void TickTimer::PostTick() {
    if (pending_) return;
    pending_ = true;
    QMetaObject::invokeMethod(this, &TickTimer::Deliver, Qt::QueuedConnection);
}

void TickTimer::Deliver() {
    pending_ = false;
    if (handler_) handler_();
}

}  // namespace zorvak
