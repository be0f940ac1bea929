// The log database playlog.db: a real SQLite file in a temporary application
// folder, read back with SQL of the test's own.

#include "playlist/play_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/log.h"
#include "playlist/fetch.h"
#include "tests/support/files.h"
#include "tests/support/play_records.h"
#include "tests/support/store_file.h"
#include "tests/support/temp_folder.h"
#include "warning_sink.h"

namespace zorvak::test {
namespace {


class PlayLogTest : public ::testing::Test {
protected:
    std::string DbPath() const { return folder_.File(PlayLog::kFileName); }
    std::vector<std::vector<std::string>> Sql(const std::string& sql) const { return Query(DbPath(), sql); }

    TempFolder folder_;
    FixedAppDirectory dir_{folder_.Path()};
    SettableClock clock_{{2026, 5, 1, 12, 0, 0}};
};

TEST_F(PlayLogTest, OpenCreatesTheFileInWalModeAndEachPlayIsOneRow) {
    PlayLog log(dir_, clock_);
    ASSERT_TRUE(log.Open());
    EXPECT_EQ(Sql("PRAGMA journal_mode"), (std::vector<std::vector<std::string>>{{"wal"}}));
    PlayRecord r = Play({2026, 5, 1, 11, 59, 0}, "早餐");
    r.endedBy = "error";
    r.error = "the picture could not be loaded";
    log.RecordPlay(r);
    log.RecordPlay(Play({2026, 5, 1, 12, 0, 0}, "b"));
    EXPECT_EQ(Sql("SELECT started, ended, row_id, playname, f_filename, f_lx, ended_by, "
                  "coalesce(error, 'NULL') FROM plays ORDER BY id"),
              (std::vector<std::vector<std::string>>{
                  {"2026-05-01 11:59:00", "2026-05-01 11:59:05", "7", "早餐", "早餐.jpg", "10",
                   "error", "the picture could not be loaded"},
                  {"2026-05-01 12:00:00", "2026-05-01 12:00:05", "7", "b", "b.jpg", "10",
                   "time up", "NULL"}}));
    // Not in the store.
    EXPECT_FALSE(std::filesystem::exists(folder_.File("tmpdb.mdb")));
}

TEST_F(PlayLogTest, RecordsOlderThanNinetyDaysGoAtOpenAndWhenTheDayChanges) {
    {
        PlayLog log(dir_, clock_);
        ASSERT_TRUE(log.Open());
        log.RecordPlay(Play({2026, 1, 30, 8, 0, 0}, "old"));       // 91 days before May 1
        log.RecordPlay(Play({2026, 1, 31, 12, 0, 0}, "edge"));     // exactly 90 days
        log.RecordPlay(Play({2026, 4, 30, 9, 0, 0}, "recent"));
    }
    PlayLog log(dir_, clock_);
    ASSERT_TRUE(log.Open());
    EXPECT_EQ(Sql("SELECT playname FROM plays ORDER BY id"),
              (std::vector<std::vector<std::string>>{{"edge"}, {"recent"}}));
    // The same day: no trim yet. The next day's first record trims.
    log.RecordPlay(Play({2026, 5, 1, 18, 0, 0}, "later"));
    EXPECT_EQ(Sql("SELECT count(*) FROM plays"), (std::vector<std::vector<std::string>>{{"3"}}));
    clock_.Set({2026, 5, 2, 0, 0, 1});
    log.RecordPlay(Play({2026, 5, 2, 0, 0, 1}, "next day"));
    EXPECT_EQ(Sql("SELECT playname FROM plays ORDER BY id"),
              (std::vector<std::vector<std::string>>{{"recent"}, {"later"}, {"next day"}}));
}

TEST_F(PlayLogTest, AFileThatCannotBeOpenedIsReportedOnceAndRecordsAreDropped) {
    std::filesystem::create_directory(DbPath());  // a folder where the file should be
    WarningSink sink;
    PlayLog log(dir_, clock_);
    EXPECT_FALSE(log.Open());
    EXPECT_FALSE(log.IsOpen());
    log.RecordPlay(Play({2026, 5, 1, 12, 0, 0}, "a"));
    log.RecordFetch(FetchResult{});
    EXPECT_FALSE(log.Open());
    ASSERT_EQ(sink.lines.size(), 1u);
    EXPECT_EQ(sink.lines[0].rfind("zorvak.play: play records are not kept", 0), 0u) << sink.lines[0];
}

// A log database SQLite finds damaged (cut short) or not a database (junk)
// is moved aside under the clock's time, byte for byte; a new one takes its
// place and records are kept again.
TEST_F(PlayLogTest, ADamagedFileIsMovedAsideAndANewOneStarts) {
    struct Case {
        const char* what;
        std::function<void()> make;
    };
    const Case cases[] = {
        {"junk", [&] { WriteFile(DbPath(), std::string(3000, 'j')); }},
        {"cut to half its length",
         [&] {
             {
                 PlayLog log(dir_, clock_);
                 ASSERT_TRUE(log.Open());
                 for (int i = 0; i < 400; ++i) log.RecordPlay(Play({2026, 5, 1, 11, 0, 0}, "old " + std::to_string(i)));
                 log.Checkpoint();
             }
             std::filesystem::resize_file(DbPath(), std::filesystem::file_size(DbPath()) / 2);
         }},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(DbPath());
        for (const std::string& name : folder_.Entries()) std::filesystem::remove(folder_.File(name));
        c.make();
        const std::optional<std::string> before = ReadFile(DbPath());
        WarningSink sink;
        PlayLog log(dir_, clock_);

        const bool opened = log.Open();
        EXPECT_TRUE(opened) << c.what;
        if (!opened) continue;

        const std::string aside = DbPath() + ".damaged-20260501-120000";
        EXPECT_EQ(log.MovedAside(), aside) << c.what;
        EXPECT_EQ(ReadFile(aside), before) << c.what << ": kept byte for byte";
        ASSERT_EQ(sink.lines.size(), 2u) << c.what;
        EXPECT_EQ(sink.lines[0].rfind("zorvak.play: the log database " + DbPath() + " is damaged (", 0), 0u)
            << sink.lines[0];
        EXPECT_NE(sink.lines[0].find("moved aside to " + aside), std::string::npos) << sink.lines[0];
        log.RecordPlay(Play({2026, 5, 1, 12, 0, 0}, "new"));
        EXPECT_EQ(Sql("SELECT playname FROM plays"), (std::vector<std::vector<std::string>>{{"new"}}))
            << c.what;
    }
}

TEST_F(PlayLogTest, FetchesAndImportsAreKeptAndTheLastOfEachReadBack) {
    PlayLog log(dir_, clock_);
    ASSERT_TRUE(log.Open());
    FetchResult imported;
    imported.outcome = FetchOutcome::kImported;
    imported.url = "http://127.0.0.1/getplaylist.php?hostname=a";
    imported.bytes = 1200;
    imported.ms = 40;
    imported.rows = 3;
    imported.importMs = 5;
    log.RecordFetch(imported);
    clock_.Set({2026, 5, 1, 12, 1, 0});
    FetchResult failed;
    failed.outcome = FetchOutcome::kNoAnswer;
    failed.detail = "HTTP 500";
    failed.ms = 12;
    log.RecordFetch(failed);

    EXPECT_EQ(Sql("SELECT at, kind, ok, outcome, bytes, rows, ms FROM syncs ORDER BY id"),
              (std::vector<std::vector<std::string>>{
                  {"2026-05-01 12:00:00", "fetch", "1", "imported", "1200", "3", "40"},
                  {"2026-05-01 12:00:00", "import", "1", "imported", "1200", "3", "5"},
                  {"2026-05-01 12:01:00", "fetch", "0", "no answer: HTTP 500", "0", "0", "12"}}));
    PlayLogReading reading = ReadPlayLog(DbPath(), std::nullopt);
    ASSERT_TRUE(reading.ok) << reading.error;
    ASSERT_TRUE(reading.lastFetch && reading.lastImport);
    EXPECT_EQ(reading.lastFetch->at, "2026-05-01 12:01:00");
    EXPECT_FALSE(reading.lastFetch->ok);
    EXPECT_EQ(reading.lastImport->rows, 3);
}

// A fetch that sent nothing is kept as skipped (ok 2), neither done nor
// failed, and reads back so.
TEST_F(PlayLogTest, AFetchThatSentNothingIsKeptAsSkipped) {
    PlayLog log(dir_, clock_);
    ASSERT_TRUE(log.Open());
    FetchResult closed;
    closed.outcome = FetchOutcome::kStoreClosed;
    log.RecordFetch(closed);
    EXPECT_EQ(Sql("SELECT kind, ok, outcome FROM syncs"),
              (std::vector<std::vector<std::string>>{
                  {"fetch", "2", "the playlist store is not open"}}));
    PlayLogReading reading = ReadPlayLog(DbPath(), std::nullopt);
    ASSERT_TRUE(reading.ok && reading.lastFetch) << reading.error;
    EXPECT_FALSE(reading.lastFetch->ok);
    EXPECT_TRUE(reading.lastFetch->skipped);
    EXPECT_FALSE(reading.lastImport.has_value());
}

// After a fetch is recorded the records are in playlog.db itself, not only in
// its write-ahead log: a copy of the main file alone (as a backup or an
// operator's copy takes it) holds the plays and the fetch.
TEST_F(PlayLogTest, AfterAFetchTheRecordsAreInTheMainFile) {
    PlayLog log(dir_, clock_);
    ASSERT_TRUE(log.Open());
    log.RecordPlay(Play({2026, 5, 1, 11, 0, 0}, "a"));
    log.RecordPlay(Play({2026, 5, 1, 11, 1, 0}, "b"));
    FetchResult fetched;
    fetched.outcome = FetchOutcome::kUnchanged;
    fetched.bytes = 300;
    log.RecordFetch(fetched);

    const std::string copy = folder_.File("copy.db");
    std::filesystem::copy_file(DbPath(), copy);
    ASSERT_FALSE(std::filesystem::exists(copy + "-wal"));
    EXPECT_EQ(Query(copy, "SELECT playname FROM plays ORDER BY id"),
              (std::vector<std::vector<std::string>>{{"a"}, {"b"}}));
    EXPECT_EQ(Query(copy, "SELECT kind, bytes FROM syncs"),
              (std::vector<std::vector<std::string>>{{"fetch", "300"}}));
}

TEST_F(PlayLogTest, ReadingTakesThePlaysFromAMomentOnOldestFirst) {
    PlayLog log(dir_, clock_);
    ASSERT_TRUE(log.Open());
    log.RecordPlay(Play({2026, 5, 1, 10, 0, 0}, "b"));
    log.RecordPlay(Play({2026, 5, 1, 9, 0, 0}, "a"));
    log.RecordPlay(Play({2026, 5, 1, 11, 0, 0}, "c"));
    auto names = [&](std::optional<LocalDateTime> since) {
        std::vector<std::string> found;
        PlayLogReading reading = ReadPlayLog(DbPath(), since);
        EXPECT_TRUE(reading.ok) << reading.error;
        for (const auto& play : reading.plays) found.push_back(play.second.playname);
        return found;
    };
    EXPECT_EQ(names(std::nullopt), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(names(LocalDateTime{2026, 5, 1, 10, 0, 0}), (std::vector<std::string>{"b", "c"}));
    EXPECT_EQ(names(LocalDateTime{2026, 5, 2, 0, 0, 0}), std::vector<std::string>{});
    EXPECT_FALSE(ReadPlayLog(folder_.File("none.db"), std::nullopt).ok);
}

}  // namespace
}  // namespace zorvak::test
