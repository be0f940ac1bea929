// The process heap on Windows: the low-fragmentation heap is the default and
// needs no settings; free memory is given back with _heapmin.
#include <malloc.h>

#include "platform/platform.h"

namespace zorvak {

void TuneHeapForLongRuns() {}

void ReleaseFreeHeapMemory() {
    _heapmin();
}

}  // namespace zorvak
