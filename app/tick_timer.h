#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

namespace zorvak {

// A timer of the control window. A tick is a queued event: when the interval
// has passed, one tick is posted and its handler runs when the thread next
// serves its queue, in the main loop or in any nested loop, also nested
// inside the timer's own earlier handler. Ticks do not pile up: while one
// tick waits in the queue, no other is posted.
class TickTimer final : public QObject {
    Q_OBJECT
public:
    TickTimer(int intervalMs, std::function<void()> handler, QObject* parent = nullptr);

    void Start() { timer_.start(); }
    bool IsActive() const { return timer_.isActive(); }
    int Interval() const { return timer_.interval(); }
    // Posts a tick as the timer does when its interval has passed.
    void PostTick();
    // True while a tick waits in the queue.
    bool TickPending() const { return pending_; }

private:
    void Deliver();

    QTimer timer_;
    std::function<void()> handler_;
    bool pending_ = false;
};

}  // namespace zorvak
