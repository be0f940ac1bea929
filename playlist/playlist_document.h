#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "playlist/store.h"

// Reading the playlist document: the part of the import that needs no
// database. PlaylistStore::ImportPlaylist writes what this gives.
namespace zorvak {

// The seventeen field elements every item must hold, in the order the import
// reads them; each fills the column of the same name.
inline constexpr std::size_t kImportedFieldCount = 17;
inline constexpr std::array<const char*, kImportedFieldCount> kImportedFields = {
    "f_enable", "playname", "hostname",  "listurl",  "f_filename",  "f_date",
    "remark",   "f_flag",   "parid",     "f_lx",     "order_sx",    "play_time",
    "online_play", "file_md5", "f_startdate", "f_enddate", "update_time"};

// One item converted for its columns, values in kImportedFields order: text
// columns hold std::string, the whole-number columns std::int64_t or null,
// the date columns LocalDateTime or null.
struct DocumentItem {
    std::array<StoredValue, kImportedFieldCount> values;
};

struct PlaylistDocument {
    enum class Outcome {
        kItems,   // root found; items holds every item (possibly none)
        kNoRoot,  // well-formed, but no top-level element named root
        kFailed,  // not importable; error says why
    };
    Outcome outcome = Outcome::kFailed;
    std::vector<DocumentItem> items;
    std::string error;
};

// The encoding named in the XML declaration at the very start of text, as
// written there; "" when there is no declaration or it names no encoding.
std::string DeclaredEncoding(std::string_view text);

// Parses a playlist document and converts every item. ansiText is the
// document in the ANSI code page (GBK); its bytes are decoded by the encoding
// the document declares. When the document declares UTF-8 or nothing and
// utf8Text is not empty, utf8Text (the same document as the server sent it)
// is parsed instead. The parser loads nothing from the network, no DTD and no
// external entity.
// serve, when given, runs between two pieces of the parse (every 256 KiB of
// the document) and of the conversion (every 1,000 items), so that a caller
// on the GUI thread can serve its events meanwhile.
PlaylistDocument ReadPlaylistDocument(std::string_view ansiText, std::string_view utf8Text = {},
                                      const std::function<void()>& serve = {});

// The rows of a playlist document read and converted for t_b_data, ready for
// PlaylistStore::CommitImport, or why the store refuses the document.
struct PreparedImport {
    bool ready = false;               // items holds every item of the document
    std::vector<DocumentItem> items;  // possibly none (a root without items)
    std::string error;                // why not ready, as the import reports it
    std::int64_t ms = 0;              // how long the preparation took
};

// Reads the document (ReadPlaylistDocument) and converts every item, touching
// no database and no state shared with another call: documents may be
// prepared on any thread, several at once. Never throws.
PreparedImport PreparePlaylistImport(std::string_view ansiText,
                                     std::string_view utf8Text = {}) noexcept;

// A decimal whole number in the range of a 32-bit int, with an optional sign;
// blanks at the edges are ignored. nullopt for anything else, "" included.
std::optional<std::int32_t> ParseWholeNumberText(std::string_view text);

// Makes libxml2 read a document declared "GB2312" with the GBK decoder, as
// code page 936 is read on Windows. Idempotent; ReadPlaylistDocument calls it.
void RegisterDocumentEncodings();

}  // namespace zorvak
