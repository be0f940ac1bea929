#include "platform/signal_pipe.h"

namespace zorvak {

// Windows ends the client by closing its session or its process; there are no
// signals to turn into quit, and the descriptor stays -1.
SignalPipe::SignalPipe() = default;

SignalPipe::~SignalPipe() = default;

void SignalPipe::Drain() {}

}  // namespace zorvak
