#pragma once

#include "playback/play_loop.h"
#include "playlist/play_log.h"

namespace zorvak {

// The play loop's observer that keeps proof of play: each item shown becomes
// a record of the log database (playlist/play_log.h), and a debug line of
// zorvak.play says how it ended.
class PlayRecorder final : public PlayObserver {
public:
    explicit PlayRecorder(PlayLog& log) : log_(log) {}
    void ItemPlayed(const PlayedItem& item) noexcept override;

private:
    PlayLog& log_;
};

}  // namespace zorvak
