// zorvak-ctl plays [--appdir DIR] [--since "YYYY/MM/DD HH:MM:SS"] [--csv]: the
// items shown, oldest first, from the log database playlog.db.
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "app/ctl/commands.h"
#include "core/app_directory.h"
#include "platform/platform.h"
#include "playlist/play_log.h"
#include "playlist/store.h"

namespace zorvak::ctl {

namespace {

int BadUsage(const std::string& why) {
    std::fprintf(stderr, "zorvak-ctl plays: %s\n", why.c_str());
    std::fputs("usage: zorvak-ctl plays [--appdir DIR] [--since \"YYYY/MM/DD HH:MM:SS\"] [--csv]\n",
               stderr);
    return 2;
}

// RFC 4180: a field holding a comma, a quote or a line break is quoted, its
// quotes doubled.
std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

}  // namespace

int RunPlays(const std::vector<std::string>& args) {
    std::unique_ptr<AppDirectory> dir;
    std::optional<LocalDateTime> since;
    bool csv = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if ((arg == "--appdir" || arg == "--since") && i + 1 >= args.size())
            return BadUsage(arg + " needs a value");
        if (arg == "--appdir") {
            dir = std::make_unique<FixedAppDirectory>(args[++i]);
        } else if (arg == "--since") {
            since = ParseDateTimeText(args[++i]);
            if (!since) return BadUsage("--since wants a date-time YYYY/MM/DD HH:MM:SS");
        } else if (arg == "--csv") {
            csv = true;
        } else {
            return BadUsage("unknown argument " + arg);
        }
    }
    if (!dir) dir = std::make_unique<ExecutableAppDirectory>();

    const std::string path = dir->Path() + PlayLog::kFileName;
    PlayLogReading reading = ReadPlayLog(path, since);
    if (!reading.ok && reading.damaged) {
        // As the client does: the damaged file goes aside, a new one starts.
        SystemClock clock;
        PlayLog log(*dir, clock);
        log.Open();
        log.Close();
        if (!log.MovedAside().empty()) {
            std::fprintf(stderr, "zorvak-ctl plays: %s was damaged (%s): moved aside to %s\n",
                         path.c_str(), reading.error.c_str(), log.MovedAside().c_str());
            reading = ReadPlayLog(path, since);
        }
    }
    if (!reading.ok) {
        std::fprintf(stderr, "zorvak-ctl plays: cannot read %s: %s\n", path.c_str(),
                     reading.error.c_str());
        return 1;
    }

    const char sep = csv ? ',' : '\t';
    auto field = [csv](const std::string& text) { return csv ? CsvField(text) : Escaped(text); };
    std::string out;
    bool first = true;
    for (const char* name :
         {"started", "ended", "id", "playname", "f_filename", "f_lx", "ended_by", "error"}) {
        if (!first) out += sep;
        first = false;
        out += name;
    }
    out += '\n';
    for (const auto& [recordId, r] : reading.plays) {
        (void)recordId;
        out += field(r.started.ToDisplayText()) + sep + field(r.ended.ToDisplayText()) + sep +
               std::to_string(r.rowId) + sep + field(r.playname) + sep + field(r.fileName) + sep +
               field(r.type) + sep + field(r.endedBy) + sep + field(r.error) + '\n';
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    if (std::fflush(stdout) != 0) {
        std::fputs("zorvak-ctl plays: cannot write the records\n", stderr);
        return 1;
    }
    return 0;
}

}  // namespace zorvak::ctl
