// The process heap on Linux (glibc malloc), for a process that runs for months
// while many threads (the video player's decoders and outputs, the web
// engine's browser side, the GUI) allocate and free large buffers.
#include <malloc.h>

#include <cstdlib>

#include "platform/platform.h"

namespace zorvak {
namespace {

// Settings given in the environment (glibc's tunables or the MALLOC_*_
// variables) are left as they are.
bool AllocatorSetInEnvironment() {
    for (const char* name : {"GLIBC_TUNABLES", "MALLOC_ARENA_MAX", "MALLOC_MMAP_THRESHOLD_",
                             "MALLOC_TRIM_THRESHOLD_", "MALLOC_TOP_PAD_"}) {
        if (std::getenv(name) != nullptr) return true;
    }
    return false;
}

}  // namespace

void TuneHeapForLongRuns() {
    if (AllocatorSetInEnvironment()) return;
    // Two arenas, not eight per core: otherwise nearly every thread that
    // allocates (the player's decoders and outputs, the web engine's threads)
    // gets an arena of its own, and the space freed in each stays with it.
    mallopt(M_ARENA_MAX, kHeapArenas);
}

void ReleaseFreeHeapMemory() {
    malloc_trim(0);
}

}  // namespace zorvak
