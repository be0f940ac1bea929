// zorvak-ctl plays and status, run as the built program over a real
// playlog.db, store and settings file in a temp folder.

#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/app_directory.h"
#include "core/clock.h"
#include "core/settings.h"
#include "playlist/fetch.h"
#include "playlist/mkstore/store_schema.h"
#include "playlist/play_log.h"
#include "playlist/store.h"
#include "tests/support/child_process.h"
#include "tests/support/files.h"
#include "tests/support/play_records.h"
#include "tests/support/playlist_items.h"
#include "tests/support/program_run.h"
#include "tests/support/store_file.h"
#include "tests/support/temp_folder.h"

namespace zorvak::test {
namespace {

class CtlLog : public ::testing::Test {
protected:
    std::string Dir() const { return folder_.path().string(); }

    void Record(const LocalDateTime& started, const std::string& name, const std::string& endedBy,
                const std::string& error = {}) {
        SettableClock clock(started);
        PlayLog log(dir_, clock);
        ASSERT_TRUE(log.Open());
        log.RecordPlay(Play(started, name).Seconds(10).Row(4).File("a.jpg").EndedBy(endedBy, error));
    }

    TempFolder folder_;
    FixedAppDirectory dir_{folder_.Path()};
};

const std::string kHeader = "started\tended\tid\tplayname\tf_filename\tf_lx\tended_by\terror\n";

TEST_F(CtlLog, PlaysPrintsTheRecordsOldestFirstFromAMomentOnAsTextOrCsv) {
    Record({2026, 5, 1, 9, 0, 0}, "早餐", "time up");
    Record({2026, 5, 1, 10, 0, 0}, "tab\there, \"quoted\"", "error", "no such file");
    Record({2026, 5, 1, 8, 0, 0}, "first", "esc");

    ProgramRun all = RunProgram("zorvak-ctl", {"plays", "--appdir", Dir()});
    EXPECT_EQ(all.exitCode, 0) << all.err;
    EXPECT_EQ(all.err, "");
    EXPECT_EQ(all.out, kHeader +
                           "2026/05/01 08:00:00\t2026/05/01 08:00:10\t4\tfirst\ta.jpg\t10\tesc\t\n"
                           "2026/05/01 09:00:00\t2026/05/01 09:00:10\t4\t早餐\ta.jpg\t10\ttime up\t\n"
                           "2026/05/01 10:00:00\t2026/05/01 10:00:10\t4\ttab\\there, \"quoted\"\ta.jpg\t10\terror\tno such file\n");

    ProgramRun since = RunProgram("zorvak-ctl", {"plays", "--appdir", Dir(), "--since", "2026/05/01 09:00:00", "--csv"});
    EXPECT_EQ(since.exitCode, 0) << since.err;
    EXPECT_EQ(since.out,
              "started,ended,id,playname,f_filename,f_lx,ended_by,error\n"
              "2026/05/01 09:00:00,2026/05/01 09:00:10,4,早餐,a.jpg,10,time up,\n"
              "2026/05/01 10:00:00,2026/05/01 10:00:10,4,\"tab\there, \"\"quoted\"\"\",a.jpg,10,error,no such file\n");
}

TEST_F(CtlLog, PlaysRefusesABadMomentAndSaysWhenThereIsNoFile) {
    ProgramRun missing = RunProgram("zorvak-ctl", {"plays", "--appdir", Dir()});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("playlog.db"), std::string::npos) << missing.err;
    EXPECT_EQ(missing.out, "");

    Record({2026, 5, 1, 9, 0, 0}, "a", "time up");
    ProgramRun bad = RunProgram("zorvak-ctl", {"plays", "--appdir", Dir(), "--since", "yesterday"});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_EQ(bad.out, "");
}

// A damaged playlog.db is moved aside, as the client does, and a new one
// starts: plays answers with no records, and says so on its error output.
TEST_F(CtlLog, PlaysMovesADamagedFileAsideAndStartsANewOne) {
    const std::string path = folder_.File(PlayLog::kFileName);
    WriteFile(path, std::string(5000, 'x'));

    ProgramRun run = RunProgram("zorvak-ctl", {"plays", "--appdir", Dir()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, kHeader);
    EXPECT_NE(run.err.find("moved aside to " + path + ".damaged-"), std::string::npos) << run.err;
    std::vector<std::string> aside;
    for (const std::string& name : folder_.Entries())
        if (name.rfind("playlog.db.damaged-", 0) == 0) aside.push_back(name);
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(ReadFile(folder_.File(aside[0])), std::string(5000, 'x'));

    Record({2026, 5, 1, 9, 0, 0}, "after", "time up");
    ProgramRun again = RunProgram("zorvak-ctl", {"plays", "--appdir", Dir()});
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(again.err, "");
    EXPECT_EQ(again.out, kHeader + "2026/05/01 09:00:00\t2026/05/01 09:00:10\t4\tafter\ta.jpg\t10\ttime up\t\n");
}

class CtlStatus : public CtlLog {};

TEST_F(CtlStatus, AnEmptyFolderStillAnswersEveryField) {
    ProgramRun run = RunProgram("zorvak-ctl", {"status", "--appdir", Dir()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "appdir: " + folder_.Path() +
                           "\n"
                           "keyword: 0\n"
                           "auto_play: on\n"  // noautorun reads "0" when missing
                           "restart_switch: off\n"
                           "restart_time: 3:00:00\n"
                           "explorer: 0\n"
                           "store: cannot be opened\n"
                           "valid_rows: 0\n"
                           "logo: none\n"
                           "last_fetch: none\n"
                           "last_import: none\n"
                           "client_running: no\n");
}

// A damaged store is replaced as the client does, and status says where the
// damaged one went.
TEST_F(CtlStatus, ADamagedStoreIsReplacedAndTheStatusSaysWhereItWent) {
    const std::string path = folder_.File(PlaylistStore::kFileName);
    WriteFile(path, "not a database at all");

    ProgramRun run = RunProgram("zorvak-ctl", {"status", "--appdir", Dir()});

    EXPECT_EQ(run.exitCode, 0) << run.err;
    const std::string open = "store: open, the damaged store moved aside to " + path + ".damaged-";
    EXPECT_NE(run.out.find(open), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("valid_rows: 0\n"), std::string::npos) << run.out;
    std::vector<std::string> aside;
    for (const std::string& name : folder_.Entries())
        if (name.rfind("tmpdb.mdb.damaged-", 0) == 0) aside.push_back(name);
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(ReadFile(folder_.File(aside[0])), "not a database at all");
    EXPECT_TRUE(TableDump(path).empty());
}

TEST_F(CtlStatus, SettingsRowsCacheStatesLastFetchAndARunningClient) {
    ASSERT_EQ(CreateEmptyStore(folder_.File(PlaylistStore::kFileName)), "");
    {
        SettableClock clock;
        PlaylistStore store(dir_, clock);
        store.ConnectDatabase();
        const std::string doc = Document(
            ItemXml({{"f_filename", "a.jpg"}, {"order_sx", "1"}, {"online_play", "0"}}) +
            ItemXml({{"f_filename", "b.mp4"}, {"order_sx", "2"}, {"online_play", "0"}}) +
            ItemXml({{"f_filename", "c.jpg"}, {"order_sx", "3"}, {"online_play", "0"}}) +
            ItemXml({{"f_filename", "../x.jpg"}, {"order_sx", "4"}, {"online_play", "0"}}) +
            ItemXml({{"f_filename", "online.jpg"}, {"order_sx", "5"}, {"online_play", "1"}}) +
            ItemXml({{"f_filename", "over.jpg"}, {"order_sx", "6"}, {"f_enddate", "2001/01/01"}}),
            "UTF-8");
        ASSERT_TRUE(store.ImportPlaylist(doc, doc));
    }
    std::filesystem::create_directory(folder_.File("data"));
    WriteFile(folder_.File("data/a.jpg"), "12345");
    WriteFile(folder_.File("data/b.mp4.tmp"), "123");
    Settings settings(dir_);
    settings.WriteSetting(Settings::kSection, Settings::kKeyword, "site7");
    settings.WriteSetting(Settings::kSection, Settings::kNoAutoRun, "0");
    settings.WriteSetting(Settings::kSection, Settings::kRestartOn, "1");
    settings.WriteSetting(Settings::kSection, Settings::kRestartTime, "4:30:00");
    settings.WriteSetting(Settings::kSection, Settings::kExplorer, "1");
    {
        SettableClock clock({2026, 5, 1, 12, 0, 0});
        PlayLog log(dir_, clock);
        ASSERT_TRUE(log.Open());
        FetchResult r;
        r.outcome = FetchOutcome::kImported;
        r.bytes = 900;
        r.ms = 30;
        r.rows = 6;
        r.importMs = 4;
        log.RecordFetch(r);
        clock.Set({2026, 5, 1, 12, 1, 0});
        r = FetchResult{};
        r.outcome = FetchOutcome::kUnchanged;
        r.bytes = 900;
        r.ms = 20;
        log.RecordFetch(r);
    }
    // A program running from the folder under the client's name (a copy of
    // sleep), started and ended by the test.
    std::filesystem::copy_file("/bin/sleep", folder_.File("zorvak-client"));
    std::filesystem::permissions(folder_.File("zorvak-client"), std::filesystem::perms::owner_all);
    const std::string program = folder_.File("zorvak-client");
    ChildProcess client = ChildProcess::Start(program, {"zorvak-client", "30"});
    ASSERT_TRUE(client.Started());
    client.WaitForExec(program, std::chrono::seconds(2));

    ProgramRun run = RunProgram("zorvak-ctl", {"status", "--appdir", Dir()});
    client.Signal(SIGTERM);
    client.Wait();

    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "appdir: " + folder_.Path() +
                           "\n"
                           "keyword: site7\n"
                           "auto_play: on\n"
                           "restart_switch: on\n"
                           "restart_time: 4:30:00\n"
                           "explorer: 1\n"
                           "store: open\n"
                           "valid_rows: 5\n"
                           "row.1: complete(5) a.jpg\n"
                           "row.2: partial(3) b.mp4\n"
                           "row.3: missing c.jpg\n"
                           "row.4: refused ../x.jpg\n"
                           "logo: none\n"
                           "last_fetch: 2026-05-01 12:01:00 ok the playlist has not changed, 900 bytes, 20 ms\n"
                           "last_import: 2026-05-01 12:00:00 ok 6 rows, 4 ms\n"
                           "client_running: yes (pid " + std::to_string(client.Pid()) + ")\n");
}

// The last fetch's word says what became of it: a fetch that sent nothing
// (offline, the store closed, the HTTP client busy) is skipped, not ok,
// whatever its record's ok column holds.
TEST_F(CtlStatus, AFetchThatSentNothingIsSkippedNotOk) {
    struct {
        const char* what;
        FetchOutcome outcome;
        std::string line;  // after the time
    } cases[] = {
        {"store closed", FetchOutcome::kStoreClosed, "skipped the playlist store is not open"},
        {"offline", FetchOutcome::kOffline, "skipped offline: no Internet connection reported"},
        {"offline after saving", FetchOutcome::kOfflineAfterSave,
         "skipped offline: the connection went away"},
        {"busy", FetchOutcome::kBusy, "skipped the HTTP client is busy with another request"},
        {"no answer", FetchOutcome::kNoAnswer, "failed no answer: HTTP 500"},
        {"unchanged", FetchOutcome::kUnchanged, "ok the playlist has not changed"},
    };
    for (const auto& c : cases) {
        TempFolder folder;
        FixedAppDirectory dir(folder.Path());
        {
            SettableClock clock({2026, 5, 1, 12, 0, 0});
            PlayLog log(dir, clock);
            ASSERT_TRUE(log.Open());
            FetchResult r;
            r.outcome = c.outcome;
            r.detail = "HTTP 500";
            r.ms = 7;
            log.RecordFetch(r);
        }
        ProgramRun run = RunProgram("zorvak-ctl", {"status", "--appdir", folder.Path()});
        EXPECT_EQ(run.exitCode, 0) << c.what << ": " << run.err;
        EXPECT_NE(run.out.find("last_fetch: 2026-05-01 12:00:00 " + c.line + ", 0 bytes, 7 ms\n"),
                  std::string::npos)
            << c.what << ": " << run.out;
    }
    // A record whose ok column says done for a fetch that sent nothing.
    TempFolder folder;
    FixedAppDirectory dir(folder.Path());
    {
        SettableClock clock({2026, 5, 1, 12, 0, 0});
        PlayLog log(dir, clock);
        ASSERT_TRUE(log.Open());
    }
    Execute(folder.File(PlayLog::kFileName),
            "INSERT INTO syncs (at, kind, ok, outcome, bytes, rows, ms) VALUES "
            "('2026-05-01 12:00:00', 'fetch', 1, 'the playlist store is not open', 0, 0, 3)");
    ProgramRun run = RunProgram("zorvak-ctl", {"status", "--appdir", folder.Path()});
    EXPECT_NE(run.out.find("last_fetch: 2026-05-01 12:00:00 skipped the playlist store is not "
                           "open, 0 bytes, 3 ms\n"),
              std::string::npos)
        << run.out;
}

// logo.png read as the picture window reads it: none, ok, or damaged with
// the reader's words.
TEST_F(CtlStatus, TheLogoIsNoneOkOrDamaged) {
    // A 2x2 RGB picture.
    const std::string good(
        "\x89\x50\x4E\x47\x0D\x0A\x1A\x0A\x00\x00\x00\x0D\x49\x48\x44\x52\x00\x00\x00\x02"
        "\x00\x00\x00\x02\x08\x02\x00\x00\x00\xFD\xD4\x9A\x73\x00\x00\x00\x11\x49\x44\x41"
        "\x54\x78\x9C\x63\xF8\xCF\xC0\x00\x44\x60\xE2\x3F\x03\x00\x1D\xF0\x03\xFD\xA0\x33"
        "\x09\x89\x00\x00\x00\x00\x49\x45\x4E\x44\xAE\x42\x60\x82",
        74);
    struct {
        const char* what;
        std::optional<std::string> file;
        std::string logo;  // the field's value, or its start for "damaged: "
    } cases[] = {
        {"no logo.png", std::nullopt, "none"},
        {"a good picture", good, "ok"},
        {"cut short", good.substr(0, 45), "damaged: "},
        {"a JPEG named logo.png", std::string("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00", 11), "damaged: "},
    };
    for (const auto& c : cases) {
        TempFolder folder;
        if (c.file) WriteFile(folder.File("logo.png"), *c.file);
        ProgramRun run = RunProgram("zorvak-ctl", {"status", "--appdir", folder.Path()});
        EXPECT_EQ(run.exitCode, 0) << c.what << ": " << run.err;
        const std::size_t at = run.out.find("\nlogo: ");
        ASSERT_NE(at, std::string::npos) << c.what << ": " << run.out;
        const std::size_t start = at + 7;
        const std::string value = run.out.substr(start, run.out.find('\n', start) - start);
        if (c.logo == "damaged: ") {
            EXPECT_EQ(value.substr(0, c.logo.size()), c.logo) << c.what;
            EXPECT_GT(value.size(), c.logo.size()) << c.what << ": the reader's words";
        } else {
            EXPECT_EQ(value, c.logo) << c.what;
        }
    }
}

}  // namespace
}  // namespace zorvak::test
