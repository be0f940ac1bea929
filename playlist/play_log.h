#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/app_directory.h"
#include "core/clock.h"

struct sqlite3;
struct sqlite3_stmt;

namespace zorvak {

struct FetchResult;

// One item shown (proof of play). Times are the machine's local time.
struct PlayRecord {
    LocalDateTime started;
    LocalDateTime ended;
    std::int64_t rowId = 0;    // t_b_data.ID
    std::string playname;
    std::string fileName;      // f_filename
    std::string type;          // f_lx: "10" picture, "20" video, "30" web page
    std::string endedBy;       // "time up", "key", "esc", "stop", "error", "not shown"
    std::string error;         // what went wrong, for "error" and "not shown"
};

// One playlist fetch or import as the log database keeps it. The column ok
// holds 1 for a fetch or import done, 0 for one that failed, 2 for a fetch
// skipped (FetchSkipped: offline, the store closed, the HTTP client busy). A
// fetch record whose outcome is the text of a skipped outcome reads as
// skipped whatever its ok column holds.
struct SyncRecord {
    std::string at;       // "YYYY-MM-DD HH:MM:SS"
    std::string kind;     // "fetch" or "import"
    bool ok = false;      // done
    bool skipped = false; // a fetch that was skipped (ok is then false)
    std::string outcome;  // fetch: DescribeFetch's text; import: "imported" or "refused"
    std::int64_t bytes = 0;
    std::int64_t rows = 0;
    std::int64_t ms = 0;
    std::string detail;
};

// The client's log database, playlog.db beside the store: every item shown,
// and every fetch and import. Its own SQLite file in WAL mode, so a reader
// (zorvak-ctl) never blocks the client and a record costs one prepared insert
// without a sync to disk. Kept to the last 90 days: older records are removed
// when the file is opened and once a day after.
//
// A file SQLite finds damaged or not a database (SQLITE_CORRUPT,
// SQLITE_NOTADB), when it is opened or when a record is written, is moved
// aside with its -wal and -shm (MoveDamagedAside: playlog.db.damaged-
// yyyyMMdd-HHmmss, the time from the clock) and a new, empty file takes its
// place; both are logged as warnings (zorvak.play). Any other failure (no
// permission, locked, a folder in the way) never moves the file. The client
// goes on when the file cannot be opened or written: each such failure is
// written to the log once (zorvak.play) and the records are lost.
class PlayLog {
public:
    static constexpr const char* kFileName = "playlog.db";
    static constexpr int kKeepDays = 90;

    PlayLog(const AppDirectory& dir, const Clock& clock);
    ~PlayLog();
    PlayLog(const PlayLog&) = delete;
    PlayLog& operator=(const PlayLog&) = delete;

    // Opens (creating when needed) playlog.db, replacing a damaged one; false
    // when it cannot be used.
    bool Open() noexcept;
    bool IsOpen() const { return db_ != nullptr; }
    void Close() noexcept;

    void RecordPlay(const PlayRecord& record) noexcept;
    // The fetch, and its import when one was tried.
    void RecordFetch(const FetchResult& result) noexcept;

    // Removes records older than kKeepDays before now.
    void Trim() noexcept;

    // Copies the write-ahead log back into the database file. Called after
    // each fetch (the client's refresh, once a minute) and after
    // kCheckpointAfterRecords items without one, instead of by SQLite on
    // whichever item's record fills the log.
    void Checkpoint() noexcept;
    static constexpr int kCheckpointAfterRecords = 2000;

    // Where the last damaged file was moved aside to by this object ("" when
    // none was).
    const std::string& MovedAside() const { return movedAside_; }

private:
    // Opens the file and sets it up; SQLITE_OK, or the failing code with why.
    int OpenFile(std::string& why) noexcept;
    // Moves the damaged file aside (closing the connection first); true when
    // it is gone from its place.
    bool MoveAside(const std::string& damage) noexcept;
    // After a failed write: reports it, and replaces a damaged file.
    void WriteFailed(int rc) noexcept;
    bool Prepare() noexcept;
    void Report(const std::string& what) noexcept;
    void InsertSync(const SyncRecord& record) noexcept;
    void TrimWhenDue(const LocalDateTime& now) noexcept;

    const AppDirectory& dir_;
    const Clock& clock_;
    sqlite3* db_ = nullptr;
    sqlite3_stmt* insertPlay_ = nullptr;
    sqlite3_stmt* insertSync_ = nullptr;
    bool reported_ = false;
    int recordsSinceCheckpoint_ = 0;
    std::string trimmedOn_;  // "YYYY-MM-DD" of the last trim
    std::string movedAside_;
};

// Reading the file (zorvak-ctl): read-only, never creating it.
struct PlayLogReading {
    bool ok = false;
    std::string error;     // when !ok
    bool damaged = false;  // when !ok: SQLite found the file damaged or not a database
    std::vector<std::pair<std::int64_t, PlayRecord>> plays;  // (record id, record)
    std::optional<SyncRecord> lastFetch;
    std::optional<SyncRecord> lastImport;
};
// The plays that started at or after since (all when nullopt), oldest first,
// and the last fetch and import.
PlayLogReading ReadPlayLog(const std::string& path, std::optional<LocalDateTime> since);

}  // namespace zorvak
