#pragma once

#include <string>
#include <string_view>

namespace zorvak {

// The part of a path after its last "/", "\" or drive ":".
std::string_view FileNamePart(std::string_view path);

// Upper-cases the letters a-z only; every other byte stays as it is.
std::string UpperAscii(std::string_view text);

// How IsProcessRunning matches one running process's executable name against
// the name asked for: equal file-name parts, else equal whole names, both
// upper-cased (a-z only).
bool ProcessNameMatches(std::string_view processName, std::string_view wanted);

}  // namespace zorvak
