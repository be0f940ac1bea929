#include "platform/file_name.h"

namespace zorvak {

bool IsLocalFileName(std::string_view name) { return IsWindowsFileName(name); }

}  // namespace zorvak
