// zorvak-ctl fetch [--appdir DIR] [--server HOST[:PORT]] [--assume-online]:
// one playlist fetch as the button does it, with the keyword of the settings
// file and an empty memo, so that any non-blank answer is imported. Exit 0
// when a document went to the import, 1 otherwise with one line on stderr.
#include <cstdio>
#include <memory>
#include <string>

#include "app/ctl/commands.h"
#include "core/clock.h"
#include "core/event_pump.h"
#include "core/settings.h"
#include "core/text.h"
#include "platform/platform.h"
#include "playlist/fetch.h"
#include "playlist/http_client.h"
#include "playlist/play_log.h"
#include "playlist/store.h"

namespace zorvak::ctl {

namespace {

class AssumedOnline final : public Connectivity {
public:
    bool IsOnline() override { return true; }
};

int BadUsage(const std::string& why) {
    std::fprintf(stderr, "zorvak-ctl fetch: %s\n", why.c_str());
    std::fputs("usage: zorvak-ctl fetch [--appdir DIR] [--server HOST[:PORT]] [--assume-online]\n",
               stderr);
    return 2;
}

}  // namespace

int RunFetch(const std::vector<std::string>& args) {
    std::unique_ptr<AppDirectory> dir;
    std::string server;
    bool assumeOnline = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if ((arg == "--appdir" || arg == "--server") && i + 1 >= args.size())
            return BadUsage(arg + " needs a value");
        if (arg == "--appdir") {
            dir = std::make_unique<FixedAppDirectory>(args[++i]);
        } else if (arg == "--server") {
            server = TrimBlanks(args[++i]);
            if (server.empty()) return BadUsage("--server needs a host");
        } else if (arg == "--assume-online") {
            assumeOnline = true;
        } else {
            return BadUsage("unknown argument " + arg);
        }
    }
    if (!dir) dir = std::make_unique<ExecutableAppDirectory>();
    if (server.empty()) server = PlaylistServerAddress();

    std::unique_ptr<Connectivity> connectivity;
    if (assumeOnline)
        connectivity = std::make_unique<AssumedOnline>();
    else
        connectivity = CreateConnectivity();
    Settings settings(*dir);
    SystemClock clock;
    PlaylistStore store(*dir, clock);
    store.ConnectDatabase();
    NullEventPump pump;
    HttpClient client(pump);

    // "0" is the settings file's "not set" (start-up would put in the default
    // keyword); a fetch for it would ask the server for nothing useful.
    const std::string keyword = settings.ReadSetting(Settings::kSection, Settings::kKeyword);
    if (TrimBlanks(keyword) == "0") {
        std::fprintf(stderr, "zorvak-ctl fetch: no site keyword (KEYWORD) in %s\n",
                     settings.FilePath().c_str());
        return 1;
    }
    PlaylistFetch::Window window;
    window.keywordText = [&] { return keyword; };
    window.memoText = [] { return std::string(); };
    // No memo to show the answer in.
    PlaylistFetch fetch(*connectivity, settings, store, client, window, server);
    // Recorded in the log database as the client's own fetches are, so that
    // zorvak-ctl status shows it as the last fetch.
    PlayLog log(*dir, clock);
    log.Open();
    fetch.SetListener([&log](const FetchResult& done) { log.RecordFetch(done); });

    FetchResult result = fetch.Fetch();
    if (result.outcome == FetchOutcome::kImported) {
        std::printf("imported the playlist from %s\n", result.url.c_str());
        return 0;
    }
    std::string why = DescribeFetch(result);
    if (result.outcome == FetchOutcome::kStoreClosed)
        why += " (" + dir->Path() + PlaylistStore::kFileName + ")";
    else if (!result.url.empty())
        why += " (" + result.url + ")";
    std::fprintf(stderr, "zorvak-ctl fetch: %s\n", why.c_str());
    return 1;
}

}  // namespace zorvak::ctl
