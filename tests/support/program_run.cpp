#include "tests/support/program_run.h"

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>

namespace zorvak::test {

std::string ShellQuoted(const std::string& word) {
    std::string q = "'";
    for (char c : word) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::string& env) {
    char errPath[] = "/tmp/zorvak-stderr-XXXXXX";
    const int errFd = ::mkstemp(errPath);
    if (errFd >= 0) ::close(errFd);

    std::string command = env + " " + ShellQuoted(std::string(ZORVAK_RUNTIME_DIR) + "/" + program);
    for (const std::string& a : args) command += " " + ShellQuoted(a);
    command += " 2>" + ShellQuoted(errPath);

    ProgramRun run;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) run.out.append(buf, n);
        const int status = ::pclose(pipe);
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::ifstream in(errPath, std::ios::binary);
    run.err.assign(std::istreambuf_iterator<char>(in), {});
    ::unlink(errPath);
    return run;
}

}  // namespace zorvak::test
