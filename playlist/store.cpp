// The connection to tmpdb.mdb and the valid-now selection.

#include "playlist/store.h"

#include <sqlite3.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "core/log.h"
#include "playlist/mkstore/store_schema.h"
#include "playlist/playlist_document.h"
#include "playlist/store_recovery.h"

namespace zorvak {

namespace {

// How long a statement waits for another program holding the file.
constexpr int kBusyTimeoutMs = 2000;

bool IsDateColumn(int column) {
    const char* name = kPlaylistColumns[column];
    return !std::strcmp(name, "f_date") || !std::strcmp(name, "f_startdate") ||
           !std::strcmp(name, "f_enddate") || !std::strcmp(name, "update_time");
}

std::string ColumnList() {
    std::string list;
    for (int i = 0; i < kPlaylistColumnCount; ++i) {
        if (i) list += ", ";
        list += kPlaylistColumns[i];
    }
    return list;
}

int ColumnIndex(std::string_view name) {
    for (int i = 0; i < kPlaylistColumnCount; ++i) {
        const char* column = kPlaylistColumns[i];
        if (std::strlen(column) != name.size()) continue;
        bool same = true;
        for (std::size_t k = 0; same && k < name.size(); ++k) {
            char a = column[k], b = name[k];
            if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
            if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
            same = a == b;
        }
        if (same) return i;
    }
    return -1;
}

StoredValue ReadColumn(sqlite3_stmt* stmt, int column) {
    switch (sqlite3_column_type(stmt, column)) {
        case SQLITE_NULL:
            return std::monostate{};
        case SQLITE_INTEGER:
            return static_cast<std::int64_t>(sqlite3_column_int64(stmt, column));
        default: {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
            std::string value(text ? text : "", static_cast<std::size_t>(sqlite3_column_bytes(stmt, column)));
            if (IsDateColumn(column)) {
                if (auto t = LocalDateTime::FromSortableText(value)) return *t;
            }
            return value;
        }
    }
}

const StoredValue& FieldOf(const PlaylistRow& row, std::string_view column) {
    const int index = ColumnIndex(column);
    if (index < 0 || static_cast<std::size_t>(index) >= row.values.size()) {
        throw StoreError("no column " + std::string(column) + " in t_b_data");
    }
    return row.values[static_cast<std::size_t>(index)];
}

// A value read as a whole number: null reads as 0; anything but a whole
// number in the range of int throws.
int WholeNumber(const StoredValue& value, std::string_view column) {
    if (std::holds_alternative<std::monostate>(value)) return 0;
    if (auto n = std::get_if<std::int64_t>(&value)) {
        if (*n >= INT_MIN && *n <= INT_MAX) return static_cast<int>(*n);
    } else if (auto s = std::get_if<std::string>(&value)) {
        if (auto parsed = ParseWholeNumberText(*s)) return *parsed;
    }
    throw StoreError("column " + std::string(column) + " does not hold a whole number");
}

// Opens the store file at path read-write without creating it and reads its
// schema: t_b_data with every column. SQLITE_OK with *out set, else the code
// of the failing call with SQLite's message in why, and the connection
// closed.
int OpenStoreFile(const std::string& path, sqlite3** out, std::string& why) {
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_busy_timeout(db, kBusyTimeoutMs);
        const std::string probe = "SELECT " + ColumnList() + " FROM t_b_data LIMIT 0";
        sqlite3_stmt* stmt = nullptr;
        rc = sqlite3_prepare_v2(db, probe.c_str(), -1, &stmt, nullptr);
        if (rc == SQLITE_OK) {
            rc = sqlite3_step(stmt);
            if (rc == SQLITE_DONE) rc = SQLITE_OK;
        }
        if (rc != SQLITE_OK) why = sqlite3_errmsg(db);
        sqlite3_finalize(stmt);
    } else {
        why = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    }
    if (rc != SQLITE_OK) {
        sqlite3_close_v2(db);
        return rc;
    }
    *out = db;
    return SQLITE_OK;
}

struct StmtFree {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StmtFree>;

}  // namespace

std::string DisplayText(const StoredValue& value) {
    if (auto n = std::get_if<std::int64_t>(&value)) return std::to_string(*n);
    if (auto s = std::get_if<std::string>(&value)) return *s;
    if (auto t = std::get_if<LocalDateTime>(&value)) return t->ToDisplayText();
    return {};
}

// ---------------------------------------------------------------------------
// ValidNowQuery

void ValidNowQuery::Open() {
    open_ = false;
    rows_.clear();
    cursor_ = 0;
    auto fail = [this](const std::string& why) {
        open_ = false;
        rows_.clear();
        if (listener_) listener_();
        throw StoreError(why);
    };
    sqlite3* db = store_.handle();
    if (db == nullptr) fail("the database connection is closed");

    // Dates are stored as sortable text, so text comparison is date order. A
    // missing bound (NULL) compares as neither true nor false: never valid.
    const std::string sql = "SELECT " + ColumnList() +
                            " FROM t_b_data WHERE f_startdate <= ?1 AND f_enddate >= ?1"
                            " ORDER BY order_sx, ID";
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK) {
        fail(std::string("cannot select the valid rows: ") + sqlite3_errmsg(db));
    }
    Statement stmt(raw);
    const std::string now = store_.clock().Now().ToSortableText();
    sqlite3_bind_text(raw, 1, now.c_str(), static_cast<int>(now.size()), SQLITE_TRANSIENT);
    std::vector<PlaylistRow> rows;
    int rc;
    while ((rc = sqlite3_step(raw)) == SQLITE_ROW) {
        PlaylistRow row;
        row.values.reserve(kPlaylistColumnCount);
        for (int c = 0; c < kPlaylistColumnCount; ++c) row.values.push_back(ReadColumn(raw, c));
        rows.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE) fail(std::string("cannot read the valid rows: ") + sqlite3_errmsg(db));
    rows_ = std::move(rows);
    open_ = true;
    if (listener_) listener_();
}

void ValidNowQuery::Close() {
    open_ = false;
    rows_.clear();
    cursor_ = 0;
    if (listener_) listener_();
}

void ValidNowQuery::First() {
    if (!open_) throw StoreError("the valid-now selection is closed");
    cursor_ = 0;
}

void ValidNowQuery::Next() {
    if (!open_) throw StoreError("the valid-now selection is closed");
    if (cursor_ < rows_.size()) ++cursor_;
}

bool ValidNowQuery::Eof() const { return !open_ || cursor_ >= rows_.size(); }

int ValidNowQuery::RecordCount() const { return open_ ? static_cast<int>(rows_.size()) : 0; }

const PlaylistRow* ValidNowQuery::RowAhead() const {
    if (!open_ || cursor_ + 1 >= rows_.size()) return nullptr;
    return &rows_[cursor_ + 1];
}

const StoredValue& ValidNowQuery::Field(std::string_view column) const {
    if (!open_) throw StoreError("the valid-now selection is closed");
    if (cursor_ >= rows_.size()) throw StoreError("the valid-now selection is past its last row");
    return FieldOf(rows_[cursor_], column);
}

std::string ValidNowQuery::FieldText(std::string_view column) const {
    return DisplayText(Field(column));
}

int ValidNowQuery::FieldInteger(std::string_view column) const {
    return WholeNumber(Field(column), column);
}

std::string RowFieldText(const PlaylistRow& row, std::string_view column) {
    return DisplayText(FieldOf(row, column));
}

int RowFieldInteger(const PlaylistRow& row, std::string_view column) {
    return WholeNumber(FieldOf(row, column), column);
}

// ---------------------------------------------------------------------------
// PlaylistStore

PlaylistStore::PlaylistStore(const AppDirectory& dir, const Clock& clock, std::string emptyStore)
    : dir_(dir), clock_(clock), emptyStore_(std::move(emptyStore)) {}

PlaylistStore::~PlaylistStore() {
    if (db_) sqlite3_close_v2(db_);
}

void PlaylistStore::ConnectDatabase() noexcept {
    try {
        CloseConnection();
    } catch (...) {
        // The old connection goes whatever it says.
        if (db_) sqlite3_close_v2(db_);
        db_ = nullptr;
    }
    try {
        const std::string path = dir_.Path() + kFileName;
        std::string why;
        sqlite3* db = nullptr;
        int rc = OpenStoreFile(path, &db, why);
        if (IsDamagedDatabaseCode(rc) && ReplaceDamaged(path, why)) rc = OpenStoreFile(path, &db, why);
        if (rc == SQLITE_OK) db_ = db;
    } catch (...) {
    }
}

std::string PlaylistStore::WriteEmptyStore(const std::string& target, std::string& source) const {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!emptyStore_.empty() && fs::is_regular_file(emptyStore_, ec)) {
        fs::copy_file(emptyStore_, target, fs::copy_options::overwrite_existing, ec);
        if (!ec) {
            // The package's copy is read-only; the site's store is written.
            fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write,
                            fs::perm_options::add, ec);
            sqlite3* db = nullptr;
            std::string why;
            if (OpenStoreFile(target, &db, why) == SQLITE_OK && sqlite3_close(db) == SQLITE_OK) {
                source = emptyStore_;
                return {};
            }
        }
        fs::remove(target, ec);
    }
    source = "the built-in schema";
    return CreateEmptyStore(target);
}

bool PlaylistStore::ReplaceDamaged(const std::string& path, const std::string& damage) noexcept {
    try {
        auto failed = [&](const std::string& why) {
            if (!replaceFailureLogged_)
                LogWarning(LogCategory::kApp, "the store " + path + " is damaged (" + damage +
                                                  ") and cannot be replaced: " + why);
            replaceFailureLogged_ = true;
            return false;
        };
        // The empty store is made complete beside the damaged one first, so
        // the folder is without a store only between two renames.
        const std::string fresh = path + ".empty";
        std::string source;
        const std::string error = WriteEmptyStore(fresh, source);
        if (!error.empty()) return failed(error);
        std::string why;
        const std::string aside = MoveDamagedAside(path, clock_.Now(), why);
        std::error_code ec;
        if (aside.empty()) {
            std::filesystem::remove(fresh, ec);
            return failed(why);
        }
        std::filesystem::rename(fresh, path, ec);
        if (ec)
            return failed("moved aside to " + aside + ", but cannot rename " + fresh + " to " +
                          path + ": " + ec.message());
        replaceFailureLogged_ = false;
        replacedSinceImport_ = true;
        movedAside_ = aside;
        LogWarning(LogCategory::kApp,
                   "the store " + path + " is damaged (" + damage + "): moved aside to " + aside);
        LogWarning(LogCategory::kApp, "the store " + path + " starts again empty, from " + source +
                                          "; the next fetch fills it");
        return true;
    } catch (...) {
        return false;
    }
}

void PlaylistStore::CloseConnection() {
    if (playList_.IsOpen()) playList_.Close();
    if (db_ == nullptr) return;
    if (sqlite3_close(db_) != SQLITE_OK) {
        throw StoreError(std::string("cannot close the database: ") + sqlite3_errmsg(db_));
    }
    db_ = nullptr;
}

std::vector<MediaItem> PlaylistStore::ValidLocalMedia() const noexcept {
    std::vector<MediaItem> items;
    if (db_ == nullptr) return items;
    try {
        sqlite3_stmt* raw = nullptr;
        if (sqlite3_prepare_v2(db_,
                               "SELECT f_filename, listurl, online_play FROM t_b_data"
                               " WHERE f_startdate <= ?1 AND f_enddate >= ?1 ORDER BY order_sx, ID",
                               -1, &raw, nullptr) != SQLITE_OK)
            return items;
        Statement stmt(raw);
        const std::string now = clock_.Now().ToSortableText();
        sqlite3_bind_text(raw, 1, now.c_str(), static_cast<int>(now.size()), SQLITE_TRANSIENT);
        auto text = [raw](int column) {
            const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(raw, column));
            return std::string(p ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(raw, column)));
        };
        int rc;
        while ((rc = sqlite3_step(raw)) == SQLITE_ROW) {
            // As the play loop reads it: empty is 0, only a whole 0 is local.
            const int type = sqlite3_column_type(raw, 2);
            bool local = type == SQLITE_NULL ||
                         (type == SQLITE_INTEGER && sqlite3_column_int64(raw, 2) == 0);
            if (type == SQLITE_TEXT) {
                auto parsed = ParseWholeNumberText(text(2));
                local = parsed && *parsed == 0;
            }
            if (local) items.push_back(MediaItem{text(0), text(1)});
        }
        if (rc != SQLITE_DONE) items.clear();
    } catch (...) {
        items.clear();
    }
    return items;
}

}  // namespace zorvak
