#include "tests/support/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <thread>

extern char** environ;

namespace zorvak::test {
namespace {

// In the child: never outlive the test process that started it.
void DieWithParent(pid_t parent) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(126);
}

int OpenOutput(const std::string& path) {
    return path.empty() ? ::open("/dev/null", O_WRONLY)
                        : ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
}

}  // namespace

ChildProcess ChildProcess::Start(const std::string& program, const std::vector<std::string>& argv,
                                 const Options& options) {
    // Everything the child needs is made before the fork: after it, in a
    // process with threads, the child only calls async-signal-safe functions.
    std::vector<std::string> envStrings;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        bool replaced = false;
        for (const auto& [name, value] : options.env) replaced |= entry.rfind(name + "=", 0) == 0;
        if (!replaced) envStrings.push_back(entry);
    }
    for (const auto& [name, value] : options.env) envStrings.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& e : envStrings) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = argv;
    std::vector<char*> argp;
    for (std::string& a : args) argp.push_back(a.data());
    argp.push_back(nullptr);
    const int out = OpenOutput(options.outPath);
    const int err = OpenOutput(options.errPath);

    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        DieWithParent(parent);
        const int null = ::open("/dev/null", O_RDONLY);
        if (null >= 0) ::dup2(null, 0);
        if (out >= 0) ::dup2(out, 1);
        if (err >= 0) ::dup2(err, 2);
        ::execve(program.c_str(), argp.data(), envp.data());
        ::_exit(127);
    }
    if (out >= 0) ::close(out);
    if (err >= 0) ::close(err);
    return ChildProcess(pid);
}

ChildProcess ChildProcess::Fork(const std::function<int()>& body) {
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        DieWithParent(parent);
        ::_exit(body());
    }
    return ChildProcess(pid);
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)), reaped_(other.reaped_), status_(other.status_) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        EndNow();
        pid_ = std::exchange(other.pid_, -1);
        reaped_ = other.reaped_;
        status_ = other.status_;
    }
    return *this;
}

ChildProcess::~ChildProcess() { EndNow(); }

void ChildProcess::EndNow() {
    if (!Started() || reaped_) return;
    ::kill(pid_, SIGKILL);
    Wait();
}

void ChildProcess::Signal(int sig) {
    if (Started() && !reaped_) ::kill(pid_, sig);
}

bool ChildProcess::Ended() {
    if (!Started()) return false;
    if (!reaped_ && ::waitpid(pid_, &status_, WNOHANG) == pid_) reaped_ = true;
    return reaped_;
}

bool ChildProcess::WaitFor(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!Ended()) {
        if (!Started() || std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void ChildProcess::Wait() {
    if (!Started() || reaped_) return;
    while (::waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
    }
    reaped_ = true;
}

bool ChildProcess::WaitForExec(const std::string& program, std::chrono::milliseconds limit) {
    const std::string exe = "/proc/" + std::to_string(pid_) + "/exe";
    const std::string wanted = std::filesystem::weakly_canonical(program).string();
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        std::error_code ec;
        if (std::filesystem::read_symlink(exe, ec).string() == wanted) return true;
        if (Ended() || std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

bool ChildProcess::ExitedWith(int code) const {
    return reaped_ && WIFEXITED(status_) && WEXITSTATUS(status_) == code;
}

}  // namespace zorvak::test
