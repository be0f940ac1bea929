#include "platform/file_path.h"

#include <string>

namespace zorvak {

std::filesystem::path LocalPath(std::string_view utf8) {
    // A char8_t string is decoded as UTF-8 into the native wide path.
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

}  // namespace zorvak
