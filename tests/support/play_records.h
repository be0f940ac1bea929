#pragma once

// Play records (playlist/play_log.h) for tests of the log database and of
// what zorvak-ctl prints from it. Play(started, name) is a picture (f_lx 10)
// of row 7, file name.jpg, shown for 5 seconds and ended by its time; each
// setter changes one field. Converts to the PlayRecord it describes, so it
// can be handed to PlayLog::RecordPlay directly.

#include <cstdint>
#include <string>

#include "playlist/play_log.h"

namespace zorvak::test {

class Play {
public:
    Play(const LocalDateTime& started, const std::string& name) {
        r_.started = started;
        r_.rowId = 7;
        r_.playname = name;
        r_.fileName = name + ".jpg";
        r_.type = "10";
        r_.endedBy = "time up";
        Seconds(5);
    }
    // Shown for seconds (fewer than a minute past started's second).
    Play& Seconds(int seconds) {
        r_.ended = r_.started;
        r_.ended.second += seconds;
        return *this;
    }
    Play& Row(std::int64_t id) {
        r_.rowId = id;
        return *this;
    }
    Play& File(const std::string& fileName) {
        r_.fileName = fileName;
        return *this;
    }
    Play& EndedBy(const std::string& endedBy, const std::string& error = {}) {
        r_.endedBy = endedBy;
        r_.error = error;
        return *this;
    }

    const PlayRecord& Record() const { return r_; }
    operator const PlayRecord&() const { return r_; }  // NOLINT: a builder stands for its record

private:
    PlayRecord r_;
};

}  // namespace zorvak::test
