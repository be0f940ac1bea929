#pragma once

#include <string>
#include <vector>

namespace zorvak::ctl {

// Each returns the process exit code: 0 success, 1 failure (one line on
// stderr saying why), 2 bad usage. args are the words after the command name.
int RunFetch(const std::vector<std::string>& args);
int RunValid(const std::vector<std::string>& args);
int RunDownload(const std::vector<std::string>& args);

}  // namespace zorvak::ctl
