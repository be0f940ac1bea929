#pragma once

// What the fuzz targets share: a scratch folder on a memory file system where
// there is one, so that a target writing files runs fast.

#include <stdlib.h>

#include <filesystem>
#include <string>

namespace zorvak::fuzz {

// A folder made once per process and left for the system to clean (a fuzzing
// process ends by being stopped); with a trailing separator.
inline const std::string& ScratchFolder() {
    static const std::string folder = [] {
        std::error_code ec;
        std::string base = std::filesystem::is_directory("/dev/shm", ec)
                               ? std::string("/dev/shm")
                               : std::filesystem::temp_directory_path().string();
        std::string pattern = base + "/zorvak-fuzz-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) ::abort();
        return pattern + "/";
    }();
    return folder;
}

}  // namespace zorvak::fuzz
