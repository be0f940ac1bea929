#pragma once

// The log's warnings kept as "category: message" lines, for the tests of the
// playlist library.

#include <string>
#include <string_view>
#include <vector>

#include "core/log.h"

namespace zorvak::test {

// Keeps the warnings of the log while it lives.
class WarningSink final : public LogSink {
public:
    WarningSink() { SetLogSink(this); }
    ~WarningSink() override { SetLogSink(nullptr); }
    bool IsEnabled(LogCategory, LogLevel level) const override { return level == LogLevel::kWarning; }
    void Write(LogCategory category, LogLevel, std::string_view message) override {
        lines.push_back(std::string(LogCategoryName(category)) + ": " + std::string(message));
    }
    std::vector<std::string> lines;
};

}  // namespace zorvak::test
