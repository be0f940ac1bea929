#include <dirent.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "platform/platform_linux.h"
#include "platform/process_name.h"

namespace zorvak {

namespace {

std::string ReadSmallFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool IsPid(const char* name) {
    if (*name == '\0') return false;
    for (const char* p = name; *p; ++p)
        if (*p < '0' || *p > '9') return false;
    return true;
}

}  // namespace

std::vector<std::string> ProcShellControl::ProcessNames(pid_t pid) const {
    std::string dir = procRoot_ + "/" + std::to_string(pid);
    std::vector<std::string> names;

    char buf[PATH_MAX];
    ssize_t n = ::readlink((dir + "/exe").c_str(), buf, sizeof buf - 1);
    if (n > 0) {
        std::string exe(buf, static_cast<std::size_t>(n));
        // A replaced or removed executable keeps its old path with this mark.
        constexpr std::string_view kDeleted = " (deleted)";
        if (exe.size() > kDeleted.size() && exe.ends_with(kDeleted))
            exe.resize(exe.size() - kDeleted.size());
        names.push_back(exe);
    }

    std::string comm = ReadSmallFile(dir + "/comm");
    if (!comm.empty() && comm.back() == '\n') comm.pop_back();
    if (!comm.empty()) names.push_back(comm);

    std::string cmdline = ReadSmallFile(dir + "/cmdline");
    std::string argv0 = cmdline.substr(0, cmdline.find('\0'));
    if (!argv0.empty()) names.push_back(argv0);
    return names;
}

bool ProcShellControl::IsProcessRunning(const std::string& name) {
    try {
        std::unique_ptr<DIR, int (*)(DIR*)> proc(::opendir(procRoot_.c_str()), ::closedir);
        if (!proc) return false;
        bool found = false;
        while (!found) {
            dirent* entry = ::readdir(proc.get());
            if (!entry) break;
            if (!IsPid(entry->d_name)) continue;
            for (const std::string& processName :
                 ProcessNames(static_cast<pid_t>(std::atol(entry->d_name)))) {
                if (ProcessNameMatches(processName, name)) {
                    found = true;
                    break;
                }
            }
        }
        return found;
    } catch (...) {
        return false;
    }
}

std::unique_ptr<ShellControl> CreateShellControl() { return std::make_unique<ProcShellControl>(); }

}  // namespace zorvak
