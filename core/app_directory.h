#pragma once

#include <string>

namespace zorvak {

// The folder the client keeps its files in: the settings file, the store, the
// media cache and the logo. Path() ends with the path separator and is worked
// out afresh at every call.
class AppDirectory {
public:
    virtual ~AppDirectory() = default;
    virtual std::string Path() const = 0;
};

// A fixed folder (tests, `zorvak-ctl --appdir`). A missing trailing separator
// is added.
class FixedAppDirectory final : public AppDirectory {
public:
    explicit FixedAppDirectory(std::string path);
    std::string Path() const override { return path_; }

private:
    std::string path_;
};

}  // namespace zorvak
