// zorvak-ctl plays and status, run as the built program over a real
// playlog.db, store and settings file in a temp folder.

#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <string>

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
                           "last_fetch: none\n"
                           "last_import: none\n"
                           "client_running: no\n");
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
                           "last_fetch: 2026-05-01 12:01:00 ok the playlist has not changed, 900 bytes, 20 ms\n"
                           "last_import: 2026-05-01 12:00:00 ok 6 rows, 4 ms\n"
                           "client_running: yes (pid " + std::to_string(client.Pid()) + ")\n");
}

}  // namespace
}  // namespace zorvak::test
