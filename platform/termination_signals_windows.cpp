#include "platform/termination_signals.h"

namespace zorvak {

// Windows ends the client by closing its session or its process; there are no
// signals to turn into quit.
int WatchTerminationRequests() { return -1; }

void DrainTerminationRequests(int) {}

void StopWatchingTerminationRequests() {}

}  // namespace zorvak
