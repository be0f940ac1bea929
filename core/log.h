#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zorvak {

// The client's one log, as the libraries without Qt see it. Each line belongs
// to a category (zorvak.fetch, zorvak.import, ...) and has a level. Where the
// lines go is decided once per process by installing a sink: the client and
// zorvak-ctl install the one over Qt's logging categories
// (platform/log_sink.h), which honours QT_LOGGING_RULES and writes to the
// systemd journal or stderr. Without a sink, info and above go to stderr.
enum class LogCategory : std::uint8_t {
    kApp,       // zorvak.app: start-up, quit, errors a guard swallows
    kFetch,     // zorvak.fetch: each playlist fetch
    kImport,    // zorvak.import: each playlist import
    kDownload,  // zorvak.download: each media download
    kPlay,      // zorvak.play: each item shown, the play record
    kPower,     // zorvak.power: power actions the OS refuses
};
inline constexpr int kLogCategoryCount = 6;

enum class LogLevel : std::uint8_t { kDebug, kInfo, kWarning };

// "zorvak.fetch", ...
const char* LogCategoryName(LogCategory category);

class LogSink {
public:
    virtual ~LogSink() = default;
    virtual bool IsEnabled(LogCategory category, LogLevel level) const = 0;
    virtual void Write(LogCategory category, LogLevel level, std::string_view message) = 0;
};

// Makes sink the destination of every later line; nullptr restores the
// default. The sink must outlive its use. Not thread-safe: set it once at
// start-up (and in tests, around the code under test).
void SetLogSink(LogSink* sink);

// Whether a line of that category and level would be written: test before
// building a costly message.
bool LogEnabled(LogCategory category, LogLevel level);
void Log(LogCategory category, LogLevel level, std::string_view message);

inline void LogInfo(LogCategory category, std::string_view message) {
    Log(category, LogLevel::kInfo, message);
}
inline void LogWarning(LogCategory category, std::string_view message) {
    Log(category, LogLevel::kWarning, message);
}
inline void LogDebug(LogCategory category, std::string_view message) {
    Log(category, LogLevel::kDebug, message);
}

// The text of the exception being handled (inside a catch block): what() of a
// std::exception, "unknown error" otherwise.
std::string CurrentExceptionText();

// Milliseconds elapsed since a steady-clock start point, for the figures the
// log gives (fetch, import, download times).
class LogStopwatch {
public:
    LogStopwatch();
    std::int64_t ElapsedMs() const;

private:
    std::int64_t startNs_;
};

}  // namespace zorvak
