#include "platform/file_name.h"

namespace zorvak {

bool IsLocalFileName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

}  // namespace zorvak
