#include "playback/play_recorder.h"

#include "core/log.h"

namespace zorvak {

void PlayRecorder::ItemPlayed(const PlayedItem& item) noexcept {
    try {
        PlayRecord record;
        record.started = item.started;
        record.ended = item.ended;
        record.rowId = item.rowId;
        record.playname = item.playname;
        record.fileName = item.fileName;
        record.type = item.type;
        record.endedBy = ItemEndCauseName(item.end.cause);
        record.error = item.end.detail;
        log_.RecordPlay(record);
        if (LogEnabled(LogCategory::kPlay, LogLevel::kDebug)) {
            std::string line = "shown row " + std::to_string(item.rowId) + " \"" + item.playname +
                               "\" (" + ItemKindName(item.kind) + ", " + item.fileName +
                               "), ended by " + record.endedBy;
            if (!record.error.empty()) line += ": " + record.error;
            LogDebug(LogCategory::kPlay, line);
        }
    } catch (...) {
        // Proof of play never stops the show.
    }
}

}  // namespace zorvak
