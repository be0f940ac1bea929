#include "core/app_directory.h"

namespace zorvak {

FixedAppDirectory::FixedAppDirectory(std::string path) : path_(std::move(path)) {
    if (path_.empty() || (path_.back() != '/' && path_.back() != '\\')) path_ += '/';
}

}  // namespace zorvak
