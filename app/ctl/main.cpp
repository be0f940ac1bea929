// zorvak-ctl: the operator's command-line companion, built on the client's own
// library code.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/ctl/commands.h"
#include "platform/log_sink.h"

namespace {

int Usage() {
    std::fputs(
        "usage:\n"
        "  zorvak-ctl fetch [--appdir DIR] [--server HOST[:PORT]] [--assume-online]\n"
        "  zorvak-ctl valid [--appdir DIR] [--at \"YYYY/MM/DD HH:MM:SS\"]\n"
        "  zorvak-ctl download [--appdir DIR] [--assume-online] FILENAME URL\n"
        "  zorvak-ctl plays [--appdir DIR] [--since \"YYYY/MM/DD HH:MM:SS\"] [--csv]\n"
        "  zorvak-ctl status [--appdir DIR]\n",
        stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    zorvak::InstallQuietProcessLog();
    if (argc < 2) return Usage();
    std::vector<std::string> args(argv + 2, argv + argc);
    std::string cmd = argv[1];
    if (cmd == "fetch") return zorvak::ctl::RunFetch(args);
    if (cmd == "valid") return zorvak::ctl::RunValid(args);
    if (cmd == "download") return zorvak::ctl::RunDownload(args);
    if (cmd == "plays") return zorvak::ctl::RunPlays(args);
    if (cmd == "status") return zorvak::ctl::RunStatus(args);
    return Usage();
}
