#include "core/log.h"

#include <chrono>
#include <cstdio>
#include <exception>

namespace zorvak {

namespace {

// Without an installed sink: info and above, one line each on stderr.
class StderrSink final : public LogSink {
public:
    bool IsEnabled(LogCategory, LogLevel level) const override { return level >= LogLevel::kInfo; }
    void Write(LogCategory category, LogLevel level, std::string_view message) override {
        const char* tag = level == LogLevel::kWarning ? "warning" : level == LogLevel::kInfo ? "info" : "debug";
        std::fprintf(stderr, "%s %s: %.*s\n", LogCategoryName(category), tag,
                     static_cast<int>(message.size()), message.data());
    }
};

StderrSink& DefaultSink() {
    static StderrSink sink;
    return sink;
}

LogSink* g_sink = nullptr;

LogSink& CurrentSink() { return g_sink != nullptr ? *g_sink : DefaultSink(); }

}  // namespace

const char* LogCategoryName(LogCategory category) {
    switch (category) {
        case LogCategory::kApp: return "zorvak.app";
        case LogCategory::kFetch: return "zorvak.fetch";
        case LogCategory::kImport: return "zorvak.import";
        case LogCategory::kDownload: return "zorvak.download";
        case LogCategory::kPlay: return "zorvak.play";
        case LogCategory::kPower: return "zorvak.power";
    }
    return "zorvak";
}

void SetLogSink(LogSink* sink) { g_sink = sink; }

bool LogEnabled(LogCategory category, LogLevel level) {
    return CurrentSink().IsEnabled(category, level);
}

void Log(LogCategory category, LogLevel level, std::string_view message) {
    LogSink& sink = CurrentSink();
    if (!sink.IsEnabled(category, level)) return;
    try {
        sink.Write(category, level, message);
    } catch (...) {
        // A line that cannot be written is lost; the caller goes on.
    }
}

std::string CurrentExceptionText() {
    try {
        throw;
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown error";
    }
}

namespace {
std::int64_t SteadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
}  // namespace

LogStopwatch::LogStopwatch() : startNs_(SteadyNs()) {}

std::int64_t LogStopwatch::ElapsedMs() const { return (SteadyNs() - startNs_) / 1000000; }

}  // namespace zorvak
