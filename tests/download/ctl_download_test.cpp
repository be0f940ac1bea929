// zorvak-ctl download, run as the built program against the loopback server.
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tools/testserver/test_server.h"

namespace zorvak::test {
namespace {

namespace fs = std::filesystem;

struct CtlRun {
    int exitCode = -1;
    std::string err;
};

std::string Quoted(const std::string& word) {
    std::string q = "'";
    for (char c : word) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

struct CtlRig {
    fs::path folder = fs::temp_directory_path() /
                      ("zorvak-ctl-download-" + std::to_string(std::random_device()()));
    TestServer server;

    CtlRig() { fs::create_directories(folder); }
    ~CtlRig() {
        std::error_code ec;
        fs::remove_all(folder, ec);
    }

    CtlRun Run(const std::string& name, const std::string& url) {
        std::string command = Quoted(ZORVAK_RUNTIME_DIR "/zorvak-ctl") + " download --appdir " +
                              Quoted(folder.string()) + " --assume-online " + Quoted(name) +
                              " " + Quoted(url) + " >/dev/null 2>" +
                              Quoted((folder / "stderr.txt").string());
        CtlRun run;
        int status = std::system(command.c_str());
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.err = ReadAll(folder / "stderr.txt");
        return run;
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

    CtlRun run = rig.Run("a.jpg", rig.server.Url("/a.jpg"));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(ReadAll(rig.folder / "data" / "a.jpg"), std::string(70000, 'a'));

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
         [](CtlRig& r) { fs::create_directories(r.folder / "data" / "a.jpg"); }, "renamed"},
        {"partial file held", "a.jpg", "/a.jpg",
         [](CtlRig& r) { fs::create_directories(r.folder / "data" / "a.jpg.tmp"); },
         "\xE5\xA4\xB1\xE8\xB4\xA5"},  // 失败
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CtlRig rig;
        rig.server.Route("/a.jpg", Response::Text("jpeg"));
        c.arrange(rig);
        CtlRun run = rig.Run(c.fileName, rig.server.Url(c.path));
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(Lines(run.err), 1) << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(rig.folder / "a.jpg"));
    }
}

}  // namespace
}  // namespace zorvak::test
