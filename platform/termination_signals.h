#pragma once

namespace zorvak {

// Requests from outside to end the process (SIGTERM, SIGINT, SIGHUP on Linux)
// turned into a descriptor the event loop can watch, so that they are served
// on the GUI thread like any other event.

// Installs the handlers once per process and returns a descriptor that
// becomes readable whenever such a request arrives; -1 where the OS sends no
// such requests (Windows) or the descriptor cannot be made.
int WatchTerminationRequests();

// Reads away the requests waiting on the descriptor.
void DrainTerminationRequests(int descriptor);

// Puts the default handlers back; later requests end the process at once.
void StopWatchingTerminationRequests();

}  // namespace zorvak
