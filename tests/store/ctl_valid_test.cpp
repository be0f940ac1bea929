// zorvak-ctl valid, run as the built program over a store in a temp folder.

#include <sys/wait.h>

#include <cstdio>

#include <gtest/gtest.h>

#include "store_fixture.h"

namespace zorvak::test {
namespace {

struct CtlRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string Quoted(const std::string& word) {
    std::string q = "'";
    for (char c : word) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

CtlRun RunCtl(const std::vector<std::string>& args, const TempFolder& scratch) {
    std::string command = Quoted(ZORVAK_RUNTIME_DIR "/zorvak-ctl");
    for (const std::string& a : args) command += " " + Quoted(a);
    const std::string errFile = scratch.File("stderr.txt");
    command += " 2>" + Quoted(errFile);
    CtlRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) run.out.append(buf, n);
    const int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.err = ReadFile(errFile);
    return run;
}

using CtlValid = StoreTest;

TEST_F(CtlValid, PrintsTheValidRowsInPlayOrder) {
    const std::string chinese = "\xE5\xB9\xBF\xE5\x91\x8A";  // 广告
    const std::string utf8 = Document(
        ItemXml({{"playname", "second"}, {"order_sx", "5"}, {"remark", "tab&#9;nl&#10;back\\slash"},
                 {"play_time", ""}, {"f_date", ""}}) +
            ItemXml({{"playname", chinese}, {"order_sx", "1"}, {"f_startdate", "2024/1/1 12:00:00"}}) +
            ItemXml({{"playname", "later"}, {"f_startdate", "2024/01/01 12:00:01"}}),
        "gb2312");
    Import(ToGbk(utf8), utf8);
    store_.CloseConnection();

    TempFolder scratch;
    CtlRun run = RunCtl({"valid", "--appdir", folder_.path().string(), "--at", "2024/01/01 12:00:00"},
                     scratch);
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
    run = RunCtl({"valid", "--appdir", folder_.path().string(), "--at", "2019-01-01"}, scratch);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, expected.substr(0, expected.find('\n') + 1));
}

TEST_F(CtlValid, FailsWithOneLineWhenTheStoreCannotBeOpened) {
    TempFolder empty, scratch;
    CtlRun run = RunCtl({"valid", "--appdir", empty.path().string()}, scratch);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "");
    ASSERT_FALSE(run.err.empty());
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
    EXPECT_FALSE(std::filesystem::exists(empty.path() / "tmpdb.mdb"));

    run = RunCtl({"valid", "--appdir", folder_.path().string(), "--at", "yesterday"}, scratch);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.out, "");
}

}  // namespace
}  // namespace zorvak::test
