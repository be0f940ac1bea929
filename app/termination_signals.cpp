#include "app/termination_signals.h"

#include <QSocketNotifier>

#include "platform/termination_signals.h"

namespace zorvak {

TerminationSignals::TerminationSignals(std::function<void()> onSignal, QObject* parent)
    : QObject(parent), onSignal_(std::move(onSignal)) {
    const int descriptor = WatchTerminationRequests();
    if (descriptor < 0) return;
    notifier_ = new QSocketNotifier(descriptor, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this, descriptor] {
        DrainTerminationRequests(descriptor);
        if (onSignal_) onSignal_();
    });
}

TerminationSignals::~TerminationSignals() { StopWatchingTerminationRequests(); }

}  // namespace zorvak
