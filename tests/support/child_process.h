#pragma once

// A child process of a test: a program started with its own arguments and
// environment, or a function run in a forked copy of the test; signalled,
// waited for with a bound, and never left behind. The child gets SIGKILL when
// the test process dies, and the object ends (SIGKILL) and reaps a child that
// still runs when it goes. It ends no other process.

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace zorvak::test {

class ChildProcess {
public:
    struct Options {
        // Added to (or replacing in) the test's environment: NAME, value.
        std::vector<std::pair<std::string, std::string>> env;
        // Where standard output and standard error go: a file (made or
        // truncated), or /dev/null when empty.
        std::string outPath;
        std::string errPath;
    };

    // Runs program (a path) with argv (argv[0] first, the name the process
    // shows). Started() is false when the fork failed; a program that cannot
    // be run ends with exit code 127.
    static ChildProcess Start(const std::string& program, const std::vector<std::string>& argv,
                              const Options& options = {});
    // Runs body in a forked copy of the test process; its result is the exit
    // code.
    static ChildProcess Fork(const std::function<int()>& body);

    ChildProcess() = default;
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    bool Started() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }

    // Sends sig while the child has not been reaped.
    void Signal(int sig);
    // Whether the child has ended, reaping it when it has; never blocks.
    bool Ended();
    // Waits until the child ends or limit passes; whether it ended.
    bool WaitFor(std::chrono::milliseconds limit);
    // Waits until the child ends (for children that end by themselves).
    void Wait();
    // Waits until /proc shows program as the child's executable (its exec has
    // happened) or limit passes; whether it does.
    bool WaitForExec(const std::string& program, std::chrono::milliseconds limit);

    // The wait status once Ended(); -1 before.
    int Status() const { return status_; }
    bool ExitedWith(int code) const;

private:
    explicit ChildProcess(pid_t pid) : pid_(pid) {}
    void EndNow();

    pid_t pid_ = -1;
    bool reaped_ = false;
    int status_ = -1;
};

}  // namespace zorvak::test
