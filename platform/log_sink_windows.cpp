#include "platform/log_sink.h"

namespace zorvak {

// No Qt in the Windows build of this library: core/log.h's own stderr output
// stays.
void InstallProcessLog() {}
void InstallQuietProcessLog() {}
void RouteLogThroughQt() {}
bool StderrIsJournalStream() { return false; }

}  // namespace zorvak
