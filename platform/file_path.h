#pragma once

#include <filesystem>
#include <string_view>

namespace zorvak {

// The file system path that a UTF-8 path text names. Linux: the bytes as they
// are (file names are bytes there, and the client's are UTF-8). Windows: the
// wide-character path decoded from UTF-8, which reaches every name.
std::filesystem::path LocalPath(std::string_view utf8);

}  // namespace zorvak
