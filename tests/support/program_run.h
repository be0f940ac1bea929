#pragma once

#include <string>
#include <vector>

namespace zorvak::test {

struct ProgramRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs a program of the build (ZORVAK_RUNTIME_DIR/program) with args as a
// child process (tests/support/child_process.h), with env put into its
// environment ("NAME=value" assignments separated by blanks, may be empty),
// and gathers its exit code (-1 when it did not exit), standard output and
// standard error.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::string& env = "");

}  // namespace zorvak::test
