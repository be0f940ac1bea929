#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/platform_linux.h"
#include "platform/process_name.h"
#include "tests/support/temp_folder.h"
#include "tests/support/child_process.h"

namespace zorvak {
namespace {

namespace fs = std::filesystem;

TEST(ProcessName, MatchesFileNamePartOrWholeNameWithoutCase) {
    struct Case {
        std::string process, wanted;
        bool matches;
    };
    const Case cases[] = {
        {"explorer.exe", "explorer.exe", true},
        {"explorer.exe", "EXPLORER.EXE", true},
        {"EXPLORER.EXE", "Explorer.Exe", true},
        {"explorer.exe", "C:\\Windows\\explorer.exe", true},
        {"C:\\Windows\\explorer.exe", "explorer.exe", true},
        {"explorer.exe", "c:explorer.exe", true},
        {"/usr/bin/sleep", "sleep", true},
        {"/usr/bin/sleep", "/other/place/SLEEP", true},
        {"explorer.exe", "explorer", false},
        {"explorer.exe", "xplorer.exe", false},
        {"iexplorer.exe", "explorer.exe", false},
        // Only a-z are upper-cased: other letters must match as they are.
        {"café.exe", "CAFÉ.EXE", false},
        {"café.exe", "CAFé.EXE", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ProcessNameMatches(c.process, c.wanted), c.matches)
            << c.process << " / " << c.wanted;
    EXPECT_EQ(FileNamePart("C:\\a/b:c"), "c");
    EXPECT_EQ(UpperAscii("abz-ä"), "ABZ-ä");
}

TEST(ProcShellControl, FindsTheOwnProcess) {
    ProcShellControl shell;
    std::string exe = ExecutablePath();
    ASSERT_FALSE(exe.empty());
    std::string name = std::string(FileNamePart(exe));
    for (const std::string& asked :
         {name, UpperAscii(name), exe, "C:\\Program Files\\" + UpperAscii(name)}) {
        EXPECT_TRUE(shell.IsProcessRunning(asked)) << asked;
    }
    EXPECT_FALSE(shell.IsProcessRunning("zorvak-no-such-process-7741.exe"));
}

// Starts a copy of sleep under a name of its own, so that nothing else on the
// machine goes by it, and ends it (and only it) at the end.
TEST(ProcShellControl, FindsAChildWhileItRuns) {
    test::TempFolder dir;
    std::string name = "zvk-sl-" + std::to_string(::getpid() % 10000000);
    fs::path program = dir.path() / name;
    fs::copy_file("/bin/sleep", program, fs::copy_options::overwrite_existing);

    ProcShellControl shell;
    EXPECT_FALSE(shell.IsProcessRunning(name));

    test::ChildProcess sleeper = test::ChildProcess::Start(program.string(), {name, "30"});
    ASSERT_TRUE(sleeper.Started());
    // The child shows under its new name once exec has happened.
    bool seen = false;
    for (int i = 0; i < 500 && !seen; ++i) {
        seen = shell.IsProcessRunning(program.string());
        if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(seen);
    EXPECT_TRUE(shell.IsProcessRunning(name));
    EXPECT_TRUE(shell.IsProcessRunning(UpperAscii(name)));
    EXPECT_TRUE(shell.IsProcessRunning("/elsewhere/" + name));
    std::vector<std::string> names = shell.ProcessNames(sleeper.Pid());
    EXPECT_EQ(names, (std::vector<std::string>{program.string(), name, name}));

    sleeper.Signal(SIGKILL);
    sleeper.Wait();
    EXPECT_FALSE(shell.IsProcessRunning(name));
}

TEST(ProcShellControl, ReadsAProcTree) {
    test::TempFolder folder;
    const fs::path root = folder.path();
    fs::create_directories(root / "17");
    fs::create_directories(root / "self");  // not a process number: skipped
    fs::create_directories(root / "23");    // gone half-way: nothing readable
    std::ofstream(root / "17/comm") << "kworker/0:1\n";
    fs::create_symlink("/opt/Shell/Explorer.EXE (deleted)", root / "17/exe");
    std::ofstream(root / "self/comm") << "selfname\n";

    ProcShellControl shell(root.string());
    EXPECT_TRUE(shell.IsProcessRunning("explorer.exe"));
    EXPECT_TRUE(shell.IsProcessRunning("/opt/Shell/Explorer.EXE"));
    EXPECT_FALSE(shell.IsProcessRunning("Explorer.EXE (deleted)"));
    EXPECT_FALSE(shell.IsProcessRunning("selfname"));
    EXPECT_FALSE(ProcShellControl((root / "missing").string()).IsProcessRunning("explorer.exe"));
}

// No Linux process is the Windows shell: KillExplorer ends nothing, not even a
// process (a child of the test) that the tree shows as explorer.exe.
TEST(ProcShellControl, KillExplorerEndsNoProcess) {
    test::ChildProcess sleeper = test::ChildProcess::Start("/bin/sleep", {"sleep", "30"});
    ASSERT_TRUE(sleeper.Started());
    test::TempFolder folder;
    const fs::path entry = folder.path() / std::to_string(sleeper.Pid());
    fs::create_directories(entry);
    std::ofstream(entry / "comm") << "explorer.exe\n";
    ProcShellControl shell(folder.path().string());
    ASSERT_TRUE(shell.IsProcessRunning("explorer.exe"));

    shell.KillExplorer();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(sleeper.Ended()) << "the process ended: " << sleeper.Status();
    EXPECT_TRUE(shell.IsProcessRunning("explorer.exe"));
}

}  // namespace
}  // namespace zorvak
