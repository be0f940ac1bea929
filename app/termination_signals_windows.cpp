#include "app/termination_signals.h"

namespace zorvak {

// Windows ends the client by closing its session or its process; there are no
// signals to turn into quit.
TerminationSignals::TerminationSignals(std::function<void()> onSignal, QObject* parent)
    : QObject(parent), onSignal_(std::move(onSignal)) {}

TerminationSignals::~TerminationSignals() = default;

}  // namespace zorvak
