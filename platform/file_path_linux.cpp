#include "platform/file_path.h"

#include <string>

namespace zorvak {

std::filesystem::path LocalPath(std::string_view utf8) {
    return std::filesystem::path(std::string(utf8));
}

}  // namespace zorvak
