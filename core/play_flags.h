#pragma once

namespace zorvak {

// The play-state flags shared by the play loop and every handler that steers
// it. All false when the process starts; one object per process, handed by
// reference to whoever reads or writes them. Plain booleans: one thread.
struct PlayFlags {
    // The play loop goes on to the next row while this is set.
    bool KeepPlaying = false;
    // After the last valid row the play loop starts again from the first.
    bool RepeatList = false;
    // A play run is under way or has been asked for; the watchdog starts loop
    // play only while it is clear.
    bool PlayActive = false;
    // Quit has been asked for and the process is about to end. Set once and
    // never cleared: no run starts or goes on, whatever the other flags say,
    // and requests waiting on the network are abandoned.
    bool Quitting = false;
};

}  // namespace zorvak
