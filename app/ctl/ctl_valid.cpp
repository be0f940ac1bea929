// zorvak-ctl valid [--appdir DIR] [--at "YYYY/MM/DD HH:MM:SS"]: the rows of the
// store that are valid at that moment (default: now), in play order.
#include <cstdio>
#include <memory>
#include <string>

#include "app/ctl/commands.h"
#include "core/clock.h"
#include "platform/platform.h"
#include "playlist/store.h"

namespace zorvak::ctl {

std::string Escaped(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\\': out += "\\\\"; break;
            default: out += c;
        }
    }
    return out;
}

namespace {

int BadUsage(const char* why) {
    std::fprintf(stderr, "zorvak-ctl valid: %s\n", why);
    std::fputs("usage: zorvak-ctl valid [--appdir DIR] [--at \"YYYY/MM/DD HH:MM:SS\"]\n", stderr);
    return 2;
}

}  // namespace

int RunValid(const std::vector<std::string>& args) {
    std::unique_ptr<AppDirectory> dir;
    std::optional<LocalDateTime> at;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if ((arg == "--appdir" || arg == "--at") && i + 1 >= args.size())
            return BadUsage((arg + " needs a value").c_str());
        if (arg == "--appdir") {
            dir = std::make_unique<FixedAppDirectory>(args[++i]);
        } else if (arg == "--at") {
            at = ParseDateTimeText(args[++i]);
            if (!at) return BadUsage("--at wants a date-time YYYY/MM/DD HH:MM:SS");
        } else {
            return BadUsage(("unknown argument " + arg).c_str());
        }
    }
    if (!dir) dir = std::make_unique<ExecutableAppDirectory>();

    SystemClock systemClock;
    SettableClock fixedClock(at.value_or(LocalDateTime{}));
    const Clock& clock = at ? static_cast<const Clock&>(fixedClock) : systemClock;

    PlaylistStore store(*dir, clock);
    store.ConnectDatabase();
    if (!store.IsConnected()) {
        std::fprintf(stderr, "zorvak-ctl valid: cannot open the store %s%s\n",
                     dir->Path().c_str(), PlaylistStore::kFileName);
        return 1;
    }
    ValidNowQuery& query = store.PlayList();
    try {
        query.Open();
    } catch (const StoreError& e) {
        std::fprintf(stderr, "zorvak-ctl valid: %s\n", e.what());
        return 1;
    }

    std::string out;
    for (int c = 0; c < kPlaylistColumnCount; ++c) {
        if (c) out += '\t';
        out += kPlaylistColumns[c];
    }
    out += '\n';
    for (const PlaylistRow& row : query.Rows()) {
        for (std::size_t c = 0; c < row.values.size(); ++c) {
            if (c) out += '\t';
            out += Escaped(DisplayText(row.values[c]));
        }
        out += '\n';
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    if (std::fflush(stdout) != 0) {
        std::fputs("zorvak-ctl valid: cannot write the rows\n", stderr);
        return 1;
    }
    return 0;
}

}  // namespace zorvak::ctl
