// The playlist document reader and the import into a real store. Beyond not
// crashing, the import must be all or nothing: an accepted document leaves
// exactly its items in the table, a refused one leaves the table as it was.
#include <sqlite3.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/app_directory.h"
#include "core/clock.h"
#include "fuzz_support.h"
#include "playlist/mkstore/store_schema.h"
#include "playlist/playlist_document.h"
#include "playlist/store.h"

namespace {

using namespace zorvak;

struct StoreUnderTest {
    FixedAppDirectory dir{fuzz::ScratchFolder()};
    SettableClock clock;
    PlaylistStore store{dir, clock};

    StoreUnderTest() {
        if (!CreateEmptyStore(dir.Path() + PlaylistStore::kFileName).empty()) std::abort();
        store.ConnectDatabase();
        if (!store.IsConnected()) std::abort();
    }
};

// Every value of every row, in ID order.
std::string TableContent(sqlite3* db, int* rows) {
    std::string content;
    *rows = 0;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT * FROM t_b_data ORDER BY ID", -1, &stmt, nullptr) !=
        SQLITE_OK)
        std::abort();
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        ++*rows;
        for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, c));
            content += text ? text : "<null>";
            content += '\x1f';
        }
        content += '\x1e';
    }
    sqlite3_finalize(stmt);
    return content;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    ReadPlaylistDocument(text);  // the bytes as ANSI text only

    static StoreUnderTest s;
    int rowsBefore = 0;
    int rowsAfter = 0;
    const std::string before = TableContent(s.store.handle(), &rowsBefore);
    const PlaylistDocument document = ReadPlaylistDocument(text, text);
    const bool imported = s.store.ImportPlaylist(text, text);
    const std::string after = TableContent(s.store.handle(), &rowsAfter);
    if (imported) {
        if (document.outcome != PlaylistDocument::Outcome::kItems) std::abort();
        if (static_cast<std::size_t>(rowsAfter) != document.items.size()) std::abort();
    } else if (after != before) {
        std::abort();  // a refused document changed the table
    }
    return 0;
}
