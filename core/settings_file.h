#pragma once

// The operating-system half of core/settings.h: reading the settings file and
// replacing it whole, one implementation per OS (settings_file_linux.cpp,
// settings_file_windows.cpp). Paths are UTF-8. Used by the core library only.

#include <functional>
#include <optional>
#include <string>

namespace zorvak::settings_file {

enum class ReadResult { kRead, kMissing, kFailed };

// Reads the whole file at path into bytes. kMissing when there is no such
// file or folder; kFailed when it cannot be read or is not a regular file.
ReadResult ReadWholeFile(const std::string& path, std::string& bytes);

// Gives the new content of a file from its current bytes (nullopt when there
// is no file yet).
using Edit = std::function<std::string(const std::optional<std::string>& bytes)>;

// Replaces the file at path with edit(its bytes) in one step: the new content
// goes to a temporary file in the same folder, written through to the disk,
// which then takes the file's place, so path holds either the old or the new
// content whatever happens. A path that is a link is written where the link
// points. The file keeps its permissions (Linux) or attributes (Windows); a
// new file gets those a newly created file gets. Refused (false, nothing
// changed) when the file cannot be read, when it exists but may not be
// written, or when the folder cannot take the new file. Never throws on its
// own; what edit throws goes to the caller.
bool RewriteFile(const std::string& path, const Edit& edit);

}  // namespace zorvak::settings_file
