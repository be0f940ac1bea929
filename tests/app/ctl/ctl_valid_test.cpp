// zorvak-ctl valid, run as the built program over a store in a temp folder.

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "core/app_directory.h"
#include "core/clock.h"
#include "playlist/mkstore/store_schema.h"
#include "playlist/store.h"
#include "tests/support/playlist_items.h"
#include "tests/support/program_run.h"
#include "tests/support/temp_folder.h"

namespace zorvak::test {
namespace {

// An application folder with an empty store, filled as the client fills it.
class CtlValid : public ::testing::Test {
protected:
    CtlValid() {
        const std::string error = CreateEmptyStore(folder_.File(PlaylistStore::kFileName));
        if (!error.empty()) throw std::runtime_error(error);
    }

    // Imports the document into the folder's store and closes the store.
    void Import(const std::string& ansi, const std::string& utf8) {
        FixedAppDirectory dir(folder_.path().string());
        SettableClock clock;
        PlaylistStore store(dir, clock);
        store.ConnectDatabase();
        ASSERT_TRUE(store.IsConnected());
        ASSERT_TRUE(store.ImportPlaylist(ansi, utf8));
    }

    TempFolder folder_;
};

TEST_F(CtlValid, PrintsTheValidRowsInPlayOrder) {
    const std::string chinese = "\xE5\xB9\xBF\xE5\x91\x8A";  // 广告
    const std::string utf8 = Document(
        ItemXml({{"playname", "second"}, {"order_sx", "5"}, {"remark", "tab&#9;nl&#10;back\\slash"},
                 {"play_time", ""}, {"f_date", ""}}) +
            ItemXml({{"playname", chinese}, {"order_sx", "1"}, {"f_startdate", "2024/1/1 12:00:00"}}) +
            ItemXml({{"playname", "later"}, {"f_startdate", "2024/01/01 12:00:01"}}),
        "gb2312");
    Import(ToGbk(utf8), utf8);

    ProgramRun run = RunProgram("zorvak-ctl", {"valid", "--appdir", folder_.path().string(), "--at", "2024/01/01 12:00:00"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const std::string expected =
        "ID\tf_enable\tplayname\thostname\tplaylist\tlisturl\tf_filename\tf_date\tremark\t"
        "f_flag\tparid\tf_lx\torder_sx\tplay_time\tonline_play\tfile_md5\tf_startdate\t"
        "f_enddate\tupdate_time\n"
        "2\t1\t" + chinese + "\tdemo.zorvak.cn\t\thttp://127.0.0.1/a.jpg\ta.jpg\t"
        "2019/05/01 08:30:00\tremark\t1\t0\t10\t1\t10\t0\td41d8cd98f00b204e9800998ecf8427e\t"
        "2024/01/01 12:00:00\t2030/12/31 23:59:59\t2019/05/01 00:00:00\n"
        "1\t1\tsecond\tdemo.zorvak.cn\t\thttp://127.0.0.1/a.jpg\ta.jpg\t\t"
        "tab\\tnl\\nback\\\\slash\t1\t0\t10\t5\t\t0\td41d8cd98f00b204e9800998ecf8427e\t"
        "2020/01/01 00:00:00\t2030/12/31 23:59:59\t2019/05/01 00:00:00\n";
    EXPECT_EQ(run.out, expected);

    // Nothing valid: the header alone.
    run = RunProgram("zorvak-ctl", {"valid", "--appdir", folder_.path().string(), "--at", "2019-01-01"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, expected.substr(0, expected.find('\n') + 1));
}

TEST_F(CtlValid, FailsWithOneLineWhenTheStoreCannotBeOpened) {
    TempFolder empty;
    ProgramRun run = RunProgram("zorvak-ctl", {"valid", "--appdir", empty.path().string()});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "");
    ASSERT_FALSE(run.err.empty());
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
    EXPECT_FALSE(std::filesystem::exists(empty.path() / "tmpdb.mdb"));

    run = RunProgram("zorvak-ctl", {"valid", "--appdir", folder_.path().string(), "--at", "yesterday"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.out, "");
}

}  // namespace
}  // namespace zorvak::test
