#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/app_directory.h"
#include "core/clock.h"

struct sqlite3;

namespace zorvak {

struct PreparedImport;  // playlist_document.h

class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The columns of t_b_data, in table order.
inline constexpr const char* kPlaylistColumns[] = {
    "ID",         "f_enable", "playname",    "hostname",  "playlist",    "listurl",
    "f_filename", "f_date",   "remark",      "f_flag",    "parid",       "f_lx",
    "order_sx",   "play_time", "online_play", "file_md5", "f_startdate", "f_enddate",
    "update_time"};
inline constexpr int kPlaylistColumnCount = 19;

// One column value as stored: null, a whole number, a text, or a date-time.
using StoredValue = std::variant<std::monostate, std::int64_t, std::string, LocalDateTime>;

// One row of t_b_data; values in kPlaylistColumns order.
struct PlaylistRow {
    std::vector<StoredValue> values;
};

// Display text of a stored value: "" for null, dates as YYYY/MM/DD HH:MM:SS.
std::string DisplayText(const StoredValue& value);

// A column of a row by name, read as ValidNowQuery reads its current row's
// (FieldText, FieldInteger: same values, same StoreError for an unknown
// column or a value that is not a whole number).
std::string RowFieldText(const PlaylistRow& row, std::string_view column);
int RowFieldInteger(const PlaylistRow& row, std::string_view column);

// A date-time as the playlist document and the operator write it: year, month
// and day separated by "/" (or "-"), optionally followed by blanks and a time
// of day h:m:s; blanks at the edges are ignored; "2019/5/1" is 2019/05/01
// 00:00:00. nullopt when the text is not such a date or names no real date.
std::optional<LocalDateTime> ParseDateTimeText(std::string_view text);

// The media file of one local item: its name in the cache and its address.
struct MediaItem {
    std::string fileName;
    std::string url;

    bool operator==(const MediaItem&) const = default;
};

// The valid-now selection: the rows whose f_startdate <= now <= f_enddate at
// the moment it was opened (rows with a missing bound never qualify), in
// ascending order_sx. It is a snapshot held in memory: an import does not
// change it until it is opened again.
class ValidNowQuery {
public:
    // Makes the selection afresh from the clock's now. Throws StoreError when
    // the connection is closed or the select fails (the query is then closed).
    void Open();
    void Close();
    bool IsOpen() const { return open_; }

    // Cursor. First() and Next() throw StoreError when the query is closed;
    // Next() past the last row leaves the cursor where it is. Eof()
    // is true past the last row, for an empty selection and when closed.
    // RecordCount() is 0 when closed.
    void First();
    void Next();
    bool Eof() const;
    int RecordCount() const;

    // The current row's column by name (letters compared without case). Throw
    // StoreError when the query is closed, past its end, or the column is
    // unknown. FieldText gives DisplayText() of the value (null reads as "").
    // FieldInteger: null reads as 0; a value that is not a whole number in the
    // range of int (a date, a text other than a decimal whole number) throws.
    std::string FieldText(std::string_view column) const;
    int FieldInteger(std::string_view column) const;

    // Every row of the snapshot (empty when closed).
    const std::vector<PlaylistRow>& Rows() const { return rows_; }
    // The row after the current one, for reading ahead without moving the
    // cursor (RowFieldText, RowFieldInteger); nullptr when the query is
    // closed, past its end or on its last row. Valid until the next Open()
    // or Close().
    const PlaylistRow* RowAhead() const;

    // Called after every Open() and Close(); the control window's grid follows it.
    void SetChangeListener(std::function<void()> listener) { listener_ = std::move(listener); }

private:
    friend class PlaylistStore;
    explicit ValidNowQuery(class PlaylistStore& store) : store_(store) {}
    const StoredValue& Field(std::string_view column) const;

    PlaylistStore& store_;
    bool open_ = false;
    std::vector<PlaylistRow> rows_;
    std::size_t cursor_ = 0;
    std::function<void()> listener_;
};

// Where the Debian package keeps the pristine empty store ("" where there is
// none): the store a damaged one is replaced by.
#ifdef _WIN32
inline constexpr const char* kPackagedEmptyStore = "";
#else
inline constexpr const char* kPackagedEmptyStore = "/usr/share/zorvak-client/tmpdb.mdb";
#endif

// The local playlist store: tmpdb.mdb in the application directory, an SQLite
// database holding the table t_b_data. The client never creates a missing
// file or table; a damaged file it replaces (see ConnectDatabase).
class PlaylistStore {
public:
    static constexpr const char* kFileName = "tmpdb.mdb";

    // emptyStore: the pristine empty store that replaces a damaged one; when
    // it is missing or unusable, an empty store is made from the built-in
    // schema (playlist/schema.sql).
    PlaylistStore(const AppDirectory& dir, const Clock& clock,
                  std::string emptyStore = kPackagedEmptyStore);
    ~PlaylistStore();
    PlaylistStore(const PlaylistStore&) = delete;
    PlaylistStore& operator=(const PlaylistStore&) = delete;

    // (Re)opens the connection to tmpdb.mdb in the application directory,
    // read-write, never creating it, and reads its schema: t_b_data with every
    // column. A missing file, one without the table t_b_data, or one that
    // cannot be opened or read for any reason but damage (busy, locked, no
    // permission) leaves the connection closed and the file as it is. A file
    // SQLite finds damaged or not a database (SQLITE_CORRUPT, SQLITE_NOTADB)
    // is moved aside with its companions (MoveDamagedAside: tmpdb.mdb.damaged-
    // yyyyMMdd-HHmmss, the time from the clock), an empty store takes its
    // place (a copy of emptyStore, else made from the built-in schema) and the
    // connection opens on it; both are logged as warnings (zorvak.app). When
    // that replacement fails it is logged once and the connection stays
    // closed. Never throws.
    void ConnectDatabase() noexcept;
    bool IsConnected() const { return db_ != nullptr; }
    // Closes the connection and the valid-now selection. Throws StoreError
    // when the database refuses to close.
    void CloseConnection();

    // Replaces every row of t_b_data by the items of a playlist document given
    // in the ANSI code page: CommitImport(PreparePlaylistImport(ansiText,
    // utf8Text)). utf8Text, when given, is the same document as the server
    // sent it; a document that declares UTF-8 or no encoding is parsed from
    // it. All or nothing: on any failure the table is left as it was. Never
    // throws. True when the table now holds the document's items.
    bool ImportPlaylist(std::string_view ansiText, std::string_view utf8Text = {}) noexcept;

    // Writes the rows PreparePlaylistImport made (playlist_document.h) in one
    // transaction: every old row goes, every prepared row comes. From its
    // first statement to its commit nothing else runs and no event is
    // served, so no handler ever sees the table half rewritten. A prepared
    // import that refused its document, a closed connection, or the database
    // refusing a row or the commit leave the table exactly as it was. Each
    // call writes one line to the log (zorvak.import): its rows and time (the
    // preparation's included), or why it was refused. Never throws. True
    // when the table now holds the prepared rows.
    bool CommitImport(const PreparedImport& prepared) noexcept;

    // The items played from the cache among the rows valid now (online_play
    // 0 or empty), in play order, with their name and address as stored
    // (either may be empty). Made by a select of its own: the valid-now
    // selection and its cursor stay as they are. Empty when the connection is
    // closed or the select fails. Never throws.
    std::vector<MediaItem> ValidLocalMedia() const noexcept;

    // How the last import went (rows 0 when refused). When refused, error
    // says why and storeFault tells the two kinds apart: true when the store
    // could not write (closed; SQLite's read-only, full, input/output, cannot
    // open, busy, locked, no permission, out of memory, damaged: error is then
    // SQLite's message, or says the store is not open), false when the document itself was refused
    // (not well-formed, no root element, a bad value, rows the table's
    // constraints refuse).
    struct ImportReport {
        bool ok = false;
        std::size_t rows = 0;
        std::int64_t ms = 0;
        std::string error;
        bool storeFault = false;
    };
    const ImportReport& LastImport() const { return lastImport_; }

    // Where the last damaged store was moved aside to by this object ("" when
    // none was).
    const std::string& MovedAside() const { return movedAside_; }
    // True from the replacement of a damaged store until the next import
    // succeeds: the table is empty whatever the last document shown was, so
    // a fetch imports even an answer it has seen before.
    bool ReplacedSinceImport() const { return replacedSinceImport_; }

    ValidNowQuery& PlayList() { return playList_; }
    const Clock& clock() const { return clock_; }
    sqlite3* handle() const { return db_; }

private:
    bool WriteRows(const PreparedImport& prepared, ImportReport& report) noexcept;

    // Replaces the damaged store at path by an empty one; false (logged once
    // until a replacement succeeds) when it cannot.
    bool ReplaceDamaged(const std::string& path, const std::string& damage) noexcept;
    // Writes an empty store to target; "" or why not. source says what it
    // was made from.
    std::string WriteEmptyStore(const std::string& target, std::string& source) const;

    const AppDirectory& dir_;
    const Clock& clock_;
    const std::string emptyStore_;
    sqlite3* db_ = nullptr;
    ValidNowQuery playList_{*this};
    ImportReport lastImport_;
    std::string movedAside_;
    bool replaceFailureLogged_ = false;
    bool replacedSinceImport_ = false;
};

}  // namespace zorvak
