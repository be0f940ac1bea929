#include "tests/support/program_run.h"

#include <sys/wait.h>

#include <fstream>
#include <iterator>
#include <sstream>

#include "tests/support/child_process.h"
#include "tests/support/temp_folder.h"

namespace zorvak::test {
namespace {

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::string& env) {
    TempFolder outputs;
    ChildProcess::Options options;
    options.outPath = outputs.File("out");
    options.errPath = outputs.File("err");
    std::istringstream assignments(env);
    for (std::string a; assignments >> a;) {
        const auto equals = a.find('=');
        options.env.emplace_back(a.substr(0, equals),
                                 equals == std::string::npos ? "" : a.substr(equals + 1));
    }
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());

    ChildProcess child =
        ChildProcess::Start(std::string(ZORVAK_RUNTIME_DIR) + "/" + program, argv, options);
    child.Wait();
    ProgramRun run;
    if (child.Started() && WIFEXITED(child.Status())) run.exitCode = WEXITSTATUS(child.Status());
    run.out = ReadWhole(options.outPath);
    run.err = ReadWhole(options.errPath);
    return run;
}

}  // namespace zorvak::test
