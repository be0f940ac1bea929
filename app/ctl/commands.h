#pragma once

#include <string>
#include <vector>

namespace zorvak::ctl {

// Each returns the process exit code: 0 success, 1 failure (one line on
// stderr saying why), 2 bad usage. args are the words after the command name.
int RunFetch(const std::vector<std::string>& args);
int RunValid(const std::vector<std::string>& args);
int RunDownload(const std::vector<std::string>& args);
int RunPlays(const std::vector<std::string>& args);
int RunStatus(const std::vector<std::string>& args);

// Tab, line break and backslash written as \t, \n and \\ (a carriage return
// as \r), so that every row stays one line of tab-separated fields.
std::string Escaped(const std::string& text);

}  // namespace zorvak::ctl
