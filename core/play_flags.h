#pragma once

namespace zorvak {

// The three play-state flags shared by the play loop and every handler that
// steers it. All false when the process starts; one object per process, handed
// by reference to whoever reads or writes them. Plain booleans: one thread.
struct PlayFlags {
    // The play loop goes on to the next row while this is set.
    bool KeepPlaying = false;
    // After the last valid row the play loop starts again from the first.
    bool RepeatList = false;
    // A play run is under way or has been asked for; the watchdog starts loop
    // play only while it is clear.
    bool PlayActive = false;
};

}  // namespace zorvak
