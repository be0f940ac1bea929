#pragma once

#include <string>
#include <vector>

namespace zorvak::test {

struct ProgramRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs a program of the build (ZORVAK_RUNTIME_DIR/program) with args through
// the shell, env (e.g. "NAME=value", may be empty) put before it, and gathers
// its exit code, standard output and standard error.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::string& env = "");

// The word quoted for the POSIX shell.
std::string ShellQuoted(const std::string& word);

}  // namespace zorvak::test
