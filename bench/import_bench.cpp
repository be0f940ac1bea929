// import-bench [ROUNDS]: times ImportPlaylist on a real store file for
// documents of 1,000 and 10,000 items, and in the same run the floor: parsing
// the same bytes with libxml2 plus one transaction that deletes the previous
// rows and inserts the same rows with one prepared statement. Prints the
// median of each and the ratio ours/floor.

#include <libxml/parser.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <optional>
#include <string>
#include <vector>

#include "core/text_encoding.h"
#include "core/app_directory.h"
#include "core/clock.h"
#include "playlist/mkstore/store_schema.h"
#include "playlist/playlist_document.h"
#include "playlist/store.h"
#include "import_workload.h"

namespace {

using namespace zorvak;
using Stopwatch = std::chrono::steady_clock;

// The document's bytes as the server sends them: the client's code page (GBK).
std::string ToGbk(const std::string& utf8) {
    std::optional<std::string> ansi = zorvak::Utf8ToAnsi(utf8);
    if (!ansi) throw std::runtime_error("GBK conversion failed");
    return *std::move(ansi);
}

// Values of one generated item, in kImportedFields order (as text; the
// numbers and dates in the form the store keeps them).
using Row = std::vector<std::string>;

struct Workload {
    std::string utf8;
    std::string ansi;
    std::vector<Row> rows;
};

Workload MakeDocument(int items) {
    // 广告节目 n (programme n), 备注 n (remark n)
    bench::ImportWorkload document = bench::MakeImportDocument(
        items, "\xE5\xB9\xBF\xE5\x91\x8A\xE8\x8A\x82\xE7\x9B\xAE", "\xE5\xA4\x87\xE6\xB3\xA8");
    Workload w;
    w.utf8 = std::move(document.utf8);
    w.rows = std::move(document.rows);
    w.ansi = ToGbk(w.utf8);
    return w;
}

double Ms(Stopwatch::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void Check(int rc, sqlite3* db, const char* what) {
    if (rc != SQLITE_OK && rc != SQLITE_DONE)
        throw std::runtime_error(std::string(what) + ": " + sqlite3_errmsg(db));
}

// The floor: libxml2 parse of the same bytes, then one transaction with a
// prepared insert of the already converted rows.
double Floor(sqlite3* db, const Workload& w) {
    const auto t0 = Stopwatch::now();
    xmlDoc* doc = xmlReadMemory(w.ansi.data(), static_cast<int>(w.ansi.size()), nullptr, nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!doc) throw std::runtime_error("floor parse failed");
    xmlFreeDoc(doc);
    Check(sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), db, "begin");
    Check(sqlite3_exec(db, "DELETE FROM t_b_data", nullptr, nullptr, nullptr), db, "delete");
    std::string columns, params;
    for (std::size_t f = 0; f < kImportedFieldCount; ++f) {
        columns += (f ? ", " : "") + std::string(kImportedFields[f]);
        params += f ? ", ?" : "?";
    }
    const std::string sql = "INSERT INTO t_b_data (" + columns + ") VALUES (" + params + ")";
    sqlite3_stmt* stmt = nullptr;
    Check(sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr), db, "prepare");
    for (const Row& row : w.rows) {
        for (std::size_t f = 0; f < kImportedFieldCount; ++f) {
            const bool number = f == 10 || f == 11 || f == 12;  // order_sx, play_time, online_play
            if (number)
                sqlite3_bind_int64(stmt, static_cast<int>(f + 1), std::stoll(row[f]));
            else
                sqlite3_bind_text(stmt, static_cast<int>(f + 1), row[f].data(),
                                  static_cast<int>(row[f].size()), SQLITE_STATIC);
        }
        Check(sqlite3_step(stmt), db, "insert");
        sqlite3_reset(stmt);
    }
    sqlite3_finalize(stmt);
    Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db, "commit");
    return Ms(Stopwatch::now() - t0);
}

long long RowCount(sqlite3* db) {
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, "SELECT count(*) FROM t_b_data", -1, &stmt, nullptr);
    sqlite3_step(stmt);
    long long n = sqlite3_column_int64(stmt, 0);
    sqlite3_finalize(stmt);
    return n;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    std::string folder = (std::filesystem::temp_directory_path() / "zorvak-bench-XXXXXX").string();
    if (!mkdtemp(folder.data())) return 1;
    int status = 0;
    try {
        const std::string storePath = folder + "/" + PlaylistStore::kFileName;
        const std::string error = CreateEmptyStore(storePath);
        if (!error.empty()) throw std::runtime_error(error);

        FixedAppDirectory dir(folder);
        SettableClock clock;  // the import does not read the clock
        PlaylistStore store(dir, clock);
        store.ConnectDatabase();
        if (!store.IsConnected()) throw std::runtime_error("store did not connect");
        sqlite3* floorDb = nullptr;
        Check(sqlite3_open_v2(storePath.c_str(), &floorDb, SQLITE_OPEN_READWRITE, nullptr),
              floorDb, "open");
        sqlite3_busy_timeout(floorDb, 2000);

        std::printf("import of a gb2312 document into %s, median of %d rounds\n",
                    storePath.c_str(), rounds);
        std::printf("%8s %10s %12s %12s %8s\n", "items", "doc bytes", "ours ms", "floor ms",
                    "ratio");
        for (int items : {1000, 10000}) {
            const Workload w = MakeDocument(items);
            // One untimed round each to warm the caches and fill the table.
            store.ImportPlaylist(w.ansi, w.utf8);
            Floor(floorDb, w);
            std::vector<double> ours, floor;
            for (int r = 0; r < rounds; ++r) {
                const auto t0 = Stopwatch::now();
                store.ImportPlaylist(w.ansi, w.utf8);
                ours.push_back(Ms(Stopwatch::now() - t0));
                if (RowCount(floorDb) != items) throw std::runtime_error("import did not land");
                floor.push_back(Floor(floorDb, w));
            }
            const double o = Median(ours), f = Median(floor);
            std::printf("%8d %10zu %12.1f %12.1f %8.2f\n", items, w.ansi.size(), o, f, o / f);
        }
        sqlite3_close(floorDb);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "import-bench: %s\n", e.what());
        status = 1;
    }
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return status;
}
