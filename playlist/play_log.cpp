#include "playlist/play_log.h"

#include <sqlite3.h>

#include "core/log.h"
#include "playlist/fetch.h"
#include "playlist/store_recovery.h"

namespace zorvak {

namespace {

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS plays ("
    " id INTEGER PRIMARY KEY,"
    " started TEXT NOT NULL,"
    " ended TEXT NOT NULL,"
    " row_id INTEGER,"
    " playname TEXT,"
    " f_filename TEXT,"
    " f_lx TEXT,"
    " ended_by TEXT NOT NULL,"
    " error TEXT);"
    "CREATE INDEX IF NOT EXISTS plays_started ON plays(started);"
    "CREATE TABLE IF NOT EXISTS syncs ("
    " id INTEGER PRIMARY KEY,"
    " at TEXT NOT NULL,"
    " kind TEXT NOT NULL,"
    " ok INTEGER NOT NULL,"
    " outcome TEXT NOT NULL,"
    " bytes INTEGER,"
    " rows INTEGER,"
    " ms INTEGER,"
    " detail TEXT);"
    "CREATE INDEX IF NOT EXISTS syncs_at ON syncs(at);";

int BindText(sqlite3_stmt* stmt, int index, const std::string& text) {
    return sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()),
                             SQLITE_TRANSIENT);
}

std::string ColumnText(sqlite3_stmt* stmt, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
    return text != nullptr ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(stmt, column)))
                           : std::string();
}

// The text of a skipped fetch's outcome, for the records written with ok 0 or 1.
bool IsSkippedFetchText(const std::string& outcome) {
    for (FetchOutcome o : {FetchOutcome::kOffline, FetchOutcome::kStoreClosed,
                           FetchOutcome::kOfflineAfterSave, FetchOutcome::kBusy}) {
        FetchResult skipped;
        skipped.outcome = o;
        if (outcome == DescribeFetch(skipped)) return true;
    }
    return false;
}

LocalDateTime ColumnTime(sqlite3_stmt* stmt, int column) {
    return LocalDateTime::FromSortableText(ColumnText(stmt, column)).value_or(LocalDateTime{});
}

}  // namespace

PlayLog::PlayLog(const AppDirectory& dir, const Clock& clock) : dir_(dir), clock_(clock) {}

PlayLog::~PlayLog() { Close(); }

void PlayLog::Report(const std::string& what) noexcept {
    if (reported_) return;
    reported_ = true;
    LogWarning(LogCategory::kPlay,
               "play records are not kept (" + dir_.Path() + kFileName + "): " + what);
}

bool PlayLog::Open() noexcept {
    Close();
    std::string why;
    int rc = OpenFile(why);
    if (IsDamagedDatabaseCode(rc) && MoveAside(why)) rc = OpenFile(why);
    if (rc != SQLITE_OK) {
        Report(why);
        return false;
    }
    Trim();
    return true;
}

int PlayLog::OpenFile(std::string& why) noexcept {
    const std::string path = dir_.Path() + kFileName;
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK) {
        why = db != nullptr ? sqlite3_errmsg(db) : "cannot open the file";
        sqlite3_close(db);
        return rc;
    }
    db_ = db;
    sqlite3_busy_timeout(db_, 200);
    // WAL: readers never wait for the client, and a commit writes the log
    // without syncing (NORMAL); the database stays consistent after a crash,
    // at most the last records are lost. The log is copied back into the
    // database (a checkpoint, which syncs the file: up to tens of ms) not by
    // SQLite on some item's record but by Checkpoint() after each fetch.
    char* error = nullptr;
    rc = sqlite3_exec(db_,
                      "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; "
                      "PRAGMA wal_autocheckpoint=0;",
                      nullptr, nullptr, &error);
    if (rc == SQLITE_OK) rc = sqlite3_exec(db_, kSchema, nullptr, nullptr, &error);
    if (rc == SQLITE_OK && !Prepare()) {
        rc = sqlite3_errcode(db_);
        if (rc == SQLITE_OK) rc = SQLITE_ERROR;
    }
    if (rc != SQLITE_OK) {
        why = error != nullptr ? error : sqlite3_errmsg(db_);
        sqlite3_free(error);
        Close();
    }
    return rc;
}

bool PlayLog::MoveAside(const std::string& damage) noexcept {
    try {
        Close();
        const std::string path = dir_.Path() + kFileName;
        std::string why;
        const std::string aside = MoveDamagedAside(path, clock_.Now(), why);
        if (aside.empty()) {
            Report("the file is damaged (" + damage + ") and cannot be moved aside: " + why);
            return false;
        }
        movedAside_ = aside;
        LogWarning(LogCategory::kPlay,
                   "the log database " + path + " is damaged (" + damage + "): moved aside to " + aside);
        LogWarning(LogCategory::kPlay, "the log database " + path + " starts again empty");
        return true;
    } catch (...) {
        return false;
    }
}

void PlayLog::WriteFailed(int rc) noexcept {
    std::string why = db_ != nullptr ? sqlite3_errmsg(db_) : "the file is closed";
    if (IsDamagedDatabaseCode(rc) && MoveAside(why)) {
        if (OpenFile(why) == SQLITE_OK) return;
    }
    Report(why);
}

bool PlayLog::Prepare() noexcept {
    return sqlite3_prepare_v3(db_,
                              "INSERT INTO plays (started, ended, row_id, playname, f_filename, "
                              "f_lx, ended_by, error) VALUES (?, ?, ?, ?, ?, ?, ?, ?)",
                              -1, SQLITE_PREPARE_PERSISTENT, &insertPlay_, nullptr) == SQLITE_OK &&
           sqlite3_prepare_v3(db_,
                              "INSERT INTO syncs (at, kind, ok, outcome, bytes, rows, ms, detail) "
                              "VALUES (?, ?, ?, ?, ?, ?, ?, ?)",
                              -1, SQLITE_PREPARE_PERSISTENT, &insertSync_, nullptr) == SQLITE_OK;
}

void PlayLog::Close() noexcept {
    sqlite3_finalize(insertPlay_);
    sqlite3_finalize(insertSync_);
    insertPlay_ = insertSync_ = nullptr;
    if (db_ != nullptr) sqlite3_close_v2(db_);
    db_ = nullptr;
}

void PlayLog::Trim() noexcept {
    if (db_ == nullptr) return;
    const LocalDateTime now = clock_.Now();
    const std::string cutoffBase = now.ToSortableText();
    for (const char* table : {"plays", "syncs"}) {
        const std::string column = std::string(table) == "plays" ? "started" : "at";
        const std::string one = "DELETE FROM " + std::string(table) + " WHERE " + column +
                                " < datetime(?, '-" + std::to_string(kKeepDays) + " days')";
        if (db_ == nullptr) return;
        sqlite3_stmt* stmt = nullptr;
        int rc = sqlite3_prepare_v2(db_, one.c_str(), -1, &stmt, nullptr);
        if (rc == SQLITE_OK) {
            BindText(stmt, 1, cutoffBase);
            rc = sqlite3_step(stmt);
            if (rc == SQLITE_DONE) rc = SQLITE_OK;
        }
        sqlite3_finalize(stmt);
        if (rc != SQLITE_OK) WriteFailed(rc);
    }
    trimmedOn_ = cutoffBase.substr(0, 10);
}

void PlayLog::TrimWhenDue(const LocalDateTime& now) noexcept {
    if (now.ToSortableText().substr(0, 10) != trimmedOn_) Trim();
}

void PlayLog::RecordPlay(const PlayRecord& r) noexcept {
    if (db_ == nullptr) return;
    try {
        TrimWhenDue(clock_.Now());
        sqlite3_stmt* s = insertPlay_;
        BindText(s, 1, r.started.ToSortableText());
        BindText(s, 2, r.ended.ToSortableText());
        sqlite3_bind_int64(s, 3, r.rowId);
        BindText(s, 4, r.playname);
        BindText(s, 5, r.fileName);
        BindText(s, 6, r.type);
        BindText(s, 7, r.endedBy);
        if (r.error.empty()) sqlite3_bind_null(s, 8);
        else BindText(s, 8, r.error);
        const int rc = sqlite3_step(s);
        sqlite3_reset(s);
        sqlite3_clear_bindings(s);
        if (rc != SQLITE_DONE) WriteFailed(rc);
        // Offline there are no fetches: the log still stays bounded.
        if (++recordsSinceCheckpoint_ >= kCheckpointAfterRecords) Checkpoint();
    } catch (...) {
        Report(CurrentExceptionText());
    }
}

void PlayLog::Checkpoint() noexcept {
    if (db_ == nullptr) return;
    recordsSinceCheckpoint_ = 0;
    // PASSIVE: copies what no reader (zorvak-ctl) holds, never waits.
    sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
}

void PlayLog::InsertSync(const SyncRecord& r) noexcept {
    if (db_ == nullptr) return;
    sqlite3_stmt* s = insertSync_;
    BindText(s, 1, r.at);
    BindText(s, 2, r.kind);
    sqlite3_bind_int(s, 3, r.ok ? 1 : r.skipped ? 2 : 0);
    BindText(s, 4, r.outcome);
    sqlite3_bind_int64(s, 5, r.bytes);
    sqlite3_bind_int64(s, 6, r.rows);
    sqlite3_bind_int64(s, 7, r.ms);
    if (r.detail.empty()) sqlite3_bind_null(s, 8);
    else BindText(s, 8, r.detail);
    const int rc = sqlite3_step(s);
    sqlite3_reset(s);
    sqlite3_clear_bindings(s);
    if (rc != SQLITE_DONE) WriteFailed(rc);
}

void PlayLog::RecordFetch(const FetchResult& result) noexcept {
    if (db_ == nullptr) return;
    try {
        const LocalDateTime now = clock_.Now();
        TrimWhenDue(now);
        SyncRecord fetch;
        fetch.at = now.ToSortableText();
        fetch.kind = "fetch";
        fetch.skipped = FetchSkipped(result.outcome);
        fetch.ok = !fetch.skipped && !FetchFailed(result.outcome);
        fetch.outcome = DescribeFetch(result);
        fetch.bytes = static_cast<std::int64_t>(result.bytes);
        fetch.rows = static_cast<std::int64_t>(result.rows);
        fetch.ms = result.ms;
        fetch.detail = result.url;
        InsertSync(fetch);
        if (result.outcome == FetchOutcome::kImported ||
            result.outcome == FetchOutcome::kImportFailed) {
            SyncRecord import;
            import.at = fetch.at;
            import.kind = "import";
            import.ok = result.outcome == FetchOutcome::kImported;
            import.outcome = import.ok ? "imported" : "refused";
            import.bytes = fetch.bytes;
            import.rows = static_cast<std::int64_t>(result.rows);
            import.ms = result.importMs;
            import.detail = result.importError;
            InsertSync(import);
        }
        // A fetch is a longer stretch of work anyway; its checkpoint does not
        // fall between two items.
        Checkpoint();
    } catch (...) {
        Report(CurrentExceptionText());
    }
}

PlayLogReading ReadPlayLog(const std::string& path, std::optional<LocalDateTime> since) {
    PlayLogReading reading;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        reading.error = db != nullptr ? sqlite3_errmsg(db) : "cannot open the file";
        sqlite3_close(db);
        return reading;
    }
    sqlite3_busy_timeout(db, 2000);
    sqlite3_stmt* stmt = nullptr;
    const char* playsSql =
        "SELECT id, started, ended, row_id, playname, f_filename, f_lx, ended_by, error "
        "FROM plays WHERE started >= ? ORDER BY started, id";
    int rc = sqlite3_prepare_v2(db, playsSql, -1, &stmt, nullptr);
    if (rc != SQLITE_OK) {
        reading.error = sqlite3_errmsg(db);
        reading.damaged = IsDamagedDatabaseCode(rc);
        sqlite3_close(db);
        return reading;
    }
    BindText(stmt, 1, since ? since->ToSortableText() : std::string());
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        PlayRecord r;
        r.started = ColumnTime(stmt, 1);
        r.ended = ColumnTime(stmt, 2);
        r.rowId = sqlite3_column_int64(stmt, 3);
        r.playname = ColumnText(stmt, 4);
        r.fileName = ColumnText(stmt, 5);
        r.type = ColumnText(stmt, 6);
        r.endedBy = ColumnText(stmt, 7);
        r.error = ColumnText(stmt, 8);
        reading.plays.emplace_back(sqlite3_column_int64(stmt, 0), std::move(r));
    }
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE) {
        reading.error = sqlite3_errmsg(db);
        reading.damaged = IsDamagedDatabaseCode(rc);
        sqlite3_close(db);
        return reading;
    }
    for (const char* kind : {"fetch", "import"}) {
        const char* sql =
            "SELECT at, kind, ok, outcome, bytes, rows, ms, detail FROM syncs WHERE kind = ? "
            "ORDER BY at DESC, id DESC LIMIT 1";
        rc = sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
        if (rc != SQLITE_OK) {
            reading.error = sqlite3_errmsg(db);
            reading.damaged = IsDamagedDatabaseCode(rc);
            sqlite3_close(db);
            return reading;
        }
        BindText(stmt, 1, kind);
        if (sqlite3_step(stmt) == SQLITE_ROW) {
            SyncRecord s;
            s.at = ColumnText(stmt, 0);
            s.kind = ColumnText(stmt, 1);
            const int ok = sqlite3_column_int(stmt, 2);
            s.outcome = ColumnText(stmt, 3);
            s.skipped = ok == 2 || (s.kind == "fetch" && IsSkippedFetchText(s.outcome));
            s.ok = ok == 1 && !s.skipped;
            s.bytes = sqlite3_column_int64(stmt, 4);
            s.rows = sqlite3_column_int64(stmt, 5);
            s.ms = sqlite3_column_int64(stmt, 6);
            s.detail = ColumnText(stmt, 7);
            (std::string(kind) == "fetch" ? reading.lastFetch : reading.lastImport) = s;
        }
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    reading.ok = true;
    return reading;
}

}  // namespace zorvak
