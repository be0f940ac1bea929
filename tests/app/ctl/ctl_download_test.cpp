// zorvak-ctl download, run as the built program against the loopback server.
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/files.h"
#include "tests/support/program_run.h"
#include "tests/support/temp_folder.h"
#include "tools/testserver/test_server.h"

namespace zorvak::test {
namespace {

namespace fs = std::filesystem;

struct CtlRig {
    TempFolder folder;
    TestServer server;

    ProgramRun Run(const std::string& name, const std::string& url) {
        return RunProgram("zorvak-ctl", {"download", "--appdir", folder.path().string(),
                                         "--assume-online", name, url});
    }
};

int Lines(const std::string& text) {
    int n = 0;
    for (char c : text) n += c == '\n';
    return n;
}

TEST(CtlDownload, ExitsZeroWhenTheFileIsInTheCacheAfterwards) {
    CtlRig rig;
    rig.server.Route("/a.jpg", Response::Text(std::string(70000, 'a')));

    ProgramRun run = rig.Run("a.jpg", rig.server.Url("/a.jpg"));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(ReadFile(rig.folder.File("data/a.jpg")), std::string(70000, 'a'));

    // Already there: nothing fetched, still success.
    rig.server.ClearRecords();
    run = rig.Run("a.jpg", rig.server.Url("/a.jpg"));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(rig.server.TotalRequests(), 0);
}

TEST(CtlDownload, ExitsOneWithOneLineOtherwise) {
    struct Case {
        const char* name;
        std::string fileName;
        std::string path;
        std::function<void(CtlRig&)> arrange;
        const char* says;
    };
    const Case cases[] = {
        {"404", "a.jpg", "/nothing", [](CtlRig&) {}, "status 404"},
        {"refused name", "../a.jpg", "/a.jpg", [](CtlRig&) {}, "refused file name"},
        {"rename fails", "a.jpg", "/a.jpg",
         [](CtlRig& r) { fs::create_directories(r.folder.path() / "data" / "a.jpg"); }, "renamed"},
        {"partial file held", "a.jpg", "/a.jpg",
         [](CtlRig& r) { fs::create_directories(r.folder.path() / "data" / "a.jpg.tmp"); },
         "\xE5\xA4\xB1\xE8\xB4\xA5"},  // 失败
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CtlRig rig;
        rig.server.Route("/a.jpg", Response::Text("jpeg"));
        c.arrange(rig);
        ProgramRun run = rig.Run(c.fileName, rig.server.Url(c.path));
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(Lines(run.err), 1) << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(rig.folder.path() / "a.jpg"));
    }
}

}  // namespace
}  // namespace zorvak::test
