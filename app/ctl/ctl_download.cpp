// zorvak-ctl download: one media download, as the play loop makes it.
#include <cstdio>
#include <memory>
#include <string>

#include "app/ctl/commands.h"
#include "core/app_directory.h"
#include "core/event_pump.h"
#include "platform/platform.h"
#include "playlist/media_download.h"

namespace zorvak::ctl {

namespace {

class AlwaysOnline final : public Connectivity {
public:
    bool IsOnline() override { return true; }
};

int DownloadUsage() {
    std::fputs("usage: zorvak-ctl download [--appdir DIR] [--assume-online] FILENAME URL\n",
               stderr);
    return 2;
}

int Fail(const std::string& why) {
    std::fprintf(stderr, "zorvak-ctl download: %s\n", why.c_str());
    return 1;
}

}  // namespace

int RunDownload(const std::vector<std::string>& args) {
    std::string appDir;
    bool assumeOnline = false;
    std::vector<std::string> words;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--appdir") {
            if (++i == args.size()) return DownloadUsage();
            appDir = args[i];
        } else if (args[i] == "--assume-online") {
            assumeOnline = true;
        } else if (args[i].rfind("--", 0) == 0 && args[i].size() > 2) {
            return DownloadUsage();
        } else {
            words.push_back(args[i]);
        }
    }
    if (words.size() != 2) return DownloadUsage();
    const std::string& fileName = words[0];
    const std::string& url = words[1];

    std::unique_ptr<AppDirectory> dir;
    if (appDir.empty())
        dir = std::make_unique<ExecutableAppDirectory>();
    else
        dir = std::make_unique<FixedAppDirectory>(appDir);
    std::unique_ptr<Connectivity> connectivity;
    if (assumeOnline)
        connectivity = std::make_unique<AlwaysOnline>();
    else
        connectivity = CreateConnectivity();

    NullEventPump pump;
    std::string message;
    MediaDownloader downloader(*dir, *connectivity, pump,
                               [&message](const std::string& text) { message = text; });
    std::string cachePath = MediaCachePath(*dir, fileName);
    bool cachedBefore = IsAcceptableCacheName(fileName) && CacheFileExists(cachePath);
    bool tried = false;
    try {
        tried = downloader.DownloadMediaFile(fileName, url);
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
    if (!IsAcceptableCacheName(fileName)) return Fail("refused file name \"" + fileName + "\"");
    if (CacheFileExists(cachePath)) {
        if (cachedBefore) std::printf("%s was already in the cache\n", cachePath.c_str());
        else std::printf("%s\n", cachePath.c_str());
        return 0;
    }
    if (!tried) return Fail("no Internet connection");
    if (!message.empty()) return Fail(message);
    return Fail("the file could not be renamed; the complete data is in " + cachePath + ".tmp");
}

}  // namespace zorvak::ctl
