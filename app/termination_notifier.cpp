#include "app/termination_notifier.h"

#include <QSocketNotifier>

#include "platform/signal_pipe.h"

namespace zorvak {

TerminationNotifier::TerminationNotifier(std::function<void()> onSignal, QObject* parent)
    : QObject(parent), onSignal_(std::move(onSignal)), pipe_(std::make_unique<SignalPipe>()) {
    const int descriptor = pipe_->Descriptor();
    if (descriptor < 0) return;
    notifier_ = new QSocketNotifier(descriptor, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        pipe_->Drain();
        if (onSignal_) onSignal_();
    });
}

TerminationNotifier::~TerminationNotifier() = default;

}  // namespace zorvak
