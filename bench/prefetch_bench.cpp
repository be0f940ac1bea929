// What the viewer waits for between items during the first pass over a new
// playlist whose media are not cached yet: ten 20 MB videos and ten pictures,
// alternating, served from a loopback server in this process at 50 MB/s
// each.
//
//   prefetch-bench [SECONDS_PER_PLAY_SECOND]
//
// The real play loop, store, downloads and server run; only the presenters
// are stand-ins that record when each item was handed over and keep it "on
// screen" for its display time (pictures 1 s, videos 2 s, times the factor,
// 0.5 by default) while serving events, as a modal window does. A wait is the
// time from the end of the previous item (the start of the run for the first)
// to the hand-over of the next: the black backdrop the viewer sees. Two
// passes, each in a fresh application folder:
//
//   at its turn  each file fetched when the loop reaches its item (the
//                waiting MediaDownloader);
//   prefetch     the missing files fetched in the background after the
//                import, and the loop joining the transfer of the item it
//                reaches (MediaPrefetch), as the client does.
//
// Goals after the first item: no wait longer than 30 ms for a picture,
// 150 ms for a video, 300 ms for a page.
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/app_directory.h"
#include "core/clock.h"
#include "core/event_pump.h"
#include "core/play_flags.h"
#include "core/settings.h"
#include "platform/platform.h"
#include "playback/play_loop.h"
#include "playback/presenters.h"
#include "playlist/media_download.h"
#include "playlist/media_prefetch.h"
#include "playlist/mkstore/store_schema.h"
#include "playlist/store.h"
#include "tests/support/playlist_items.h"
#include "tools/testserver/test_server.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using zorvak::test::Response;

constexpr int kPairs = 10;
constexpr std::uint64_t kVideoBytes = 20'000'000;
constexpr std::uint64_t kPictureBytes = 400'000;
constexpr std::uint64_t kRate = 50'000'000;  // bytes per second, per answer
constexpr double kPictureLimitMs = 30, kVideoLimitMs = 150, kPageLimitMs = 300;

class AlwaysOnline final : public zorvak::Connectivity {
public:
    bool IsOnline() override { return true; }
};
class NoChrome final : public zorvak::DesktopChrome {
public:
    void SetDesktopChrome(bool) override {}
};
class NoShell final : public zorvak::ShellControl {
public:
    bool IsProcessRunning(const std::string&) override { return false; }
    void KillExplorer() override {}
};
class QtPump final : public zorvak::EventPump {
public:
    void Pump() override { QCoreApplication::processEvents(QEventLoop::AllEvents); }
};

// One hand-over as the viewer saw it.
struct Shown {
    std::string kind;
    std::string location;
    double waitMs = 0;
    bool fileThere = false;
};

// Records each hand-over and keeps the item on screen for its time, serving
// events meanwhile.
class TimingPresenters final : public zorvak::Presenters {
public:
    explicit TimingPresenters(double factor) : factor_(factor) {}
    void ShowImage(const std::string& l, int s, zorvak::MediaSource) override { Show("picture", l, s); }
    void PlayVideo(const std::string& l, int s, zorvak::MediaSource) override { Show("video", l, s); }
    void ShowWebPage(const std::string& l, int s, zorvak::MediaSource) override { Show("page", l, s); }
    void CloseAllPresenters() override {}
    void BeginRun() override { lastEnd_ = Clock::now(); }

    std::vector<Shown> shown;

private:
    void Show(const char* kind, const std::string& location, int seconds) {
        const auto now = Clock::now();
        shown.push_back({kind, location,
                         std::chrono::duration<double, std::milli>(now - lastEnd_).count(),
                         fs::exists(location)});
        QEventLoop loop;
        QTimer::singleShot(static_cast<int>(seconds * 1000 * factor_), &loop, &QEventLoop::quit);
        loop.exec();
        lastEnd_ = Clock::now();
    }

    double factor_;
    Clock::time_point lastEnd_ = Clock::now();
};

std::string Item(int order, const char* type, const std::string& name, const std::string& url,
                 int seconds) {
    return zorvak::test::PlaylistItem{.order_sx = order, .f_lx = type, .listurl = url,
                                      .f_filename = name, .online_play = 0, .play_time = seconds,
                                      .f_startdate = "2020/01/01", .f_enddate = "2030/12/31",
                                      .id = order, .playname = "n", .hostname = "h",
                                      .f_date = "2024/01/01", .remark = "r", .file_md5 = "x",
                                      .update_time = "2024/01/01"}
        .Xml();
}

Response Paced(std::uint64_t size, const char* type, int seed) {
    Response r;
    r.headers.emplace_back("Content-Type", type);
    r.headers.emplace_back("ETag", "\"" + std::to_string(seed) + "\"");
    r.ranges = true;
    r.generatedSize = size;
    r.generator = [seed](std::uint64_t offset, char* out, std::size_t length) {
        for (std::size_t i = 0; i < length; ++i)
            out[i] = static_cast<char>((offset + i + static_cast<std::uint64_t>(seed)) % 251);
        return true;
    };
    r.bytesPerSecond = kRate;
    return r;
}

// One first pass over the new playlist in a fresh folder.
std::vector<Shown> Pass(zorvak::test::TestServer& server, bool prefetching, double factor) {
    const fs::path folder = fs::temp_directory_path() /
                            ("zorvak-prefetch-bench-" + std::to_string(::getpid()) +
                             (prefetching ? "-after" : "-before"));
    fs::remove_all(folder);
    fs::create_directories(folder);
    zorvak::FixedAppDirectory dir(folder.string() + "/");
    if (std::string error = zorvak::CreateEmptyStore(dir.Path() + zorvak::PlaylistStore::kFileName);
        !error.empty()) {
        std::fprintf(stderr, "store: %s\n", error.c_str());
        std::exit(1);
    }
    zorvak::SettableClock clock({2024, 6, 1, 12, 0, 0});
    zorvak::PlaylistStore store(dir, clock);
    store.ConnectDatabase();
    std::string items;
    for (int i = 0; i < kPairs; ++i) {
        items += Item(2 * i + 1, "20", "v" + std::to_string(i) + ".mp4",
                      server.Url("/v" + std::to_string(i) + ".mp4"), 2);
        items += Item(2 * i + 2, "10", "p" + std::to_string(i) + ".jpg",
                      server.Url("/p" + std::to_string(i) + ".jpg"), 1);
    }

    AlwaysOnline online;
    NoChrome chrome;
    NoShell shell;
    QtPump pump;
    zorvak::PlayFlags flags;
    zorvak::Settings settings(dir);
    TimingPresenters presenters(factor);
    zorvak::MediaDownloader downloader(dir, online, pump, nullptr);
    zorvak::MediaPrefetch prefetch(dir, online);
    zorvak::PlayLoop::DownloadFn download;
    if (prefetching) {
        download = [&](const std::string& name, const std::string& url) {
            return prefetch.DownloadForRun(
                name, url, [&] { return !flags.KeepPlaying || flags.Quitting; }, nullptr);
        };
    } else {
        download = [&](const std::string& name, const std::string& url) {
            return downloader.DownloadMediaFile(name, url);
        };
    }
    zorvak::PlayLoop loop({flags, store, presenters, chrome, shell, online, pump, settings, dir,
                           download, [] {}});

    // A refresh brings the new playlist; the run plays it at once.
    if (!store.ImportPlaylist(zorvak::test::Document(items))) {
        std::fprintf(stderr, "the playlist was refused\n");
        std::exit(1);
    }
    if (prefetching) prefetch.Schedule(store.ValidLocalMedia());
    loop.PlayOnce();
    fs::remove_all(folder);
    return presenters.shown;
}

double Limit(const std::string& kind) {
    return kind == "picture" ? kPictureLimitMs : kind == "video" ? kVideoLimitMs : kPageLimitMs;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const double factor = argc > 1 ? std::atof(argv[1]) : 0.5;
    if (!(factor > 0)) {
        std::fprintf(stderr, "usage: prefetch-bench [SECONDS_PER_PLAY_SECOND]\n");
        return 2;
    }
    zorvak::test::TestServer server;
    for (int i = 0; i < kPairs; ++i) {
        server.Route("/v" + std::to_string(i) + ".mp4", Paced(kVideoBytes, "video/mp4", i));
        server.Route("/p" + std::to_string(i) + ".jpg", Paced(kPictureBytes, "image/jpeg", 100 + i));
    }
    std::printf("first pass over a new playlist: %d videos of %.0f MB and %d pictures of %.1f MB,\n"
                "served at %.0f MB/s; on screen: pictures %.1f s, videos %.1f s\n\n",
                kPairs, kVideoBytes / 1e6, kPairs, kPictureBytes / 1e6, kRate / 1e6, factor,
                2 * factor);

    const std::vector<Shown> before = Pass(server, false, factor);
    const int requestsBefore = server.TotalRequests();
    server.ClearRecords();
    const std::vector<Shown> after = Pass(server, true, factor);
    const int requestsAfter = server.TotalRequests();

    std::printf("%-4s %-8s %-8s %14s %14s %8s\n", "item", "kind", "file", "at its turn ms",
                "prefetch ms", "limit");
    const std::size_t n = std::max(before.size(), after.size());
    double worstBefore[3] = {0, 0, 0}, worstAfter[3] = {0, 0, 0};
    bool allThere = true;
    for (std::size_t i = 0; i < n; ++i) {
        const Shown* b = i < before.size() ? &before[i] : nullptr;
        const Shown* a = i < after.size() ? &after[i] : nullptr;
        const Shown& s = a ? *a : *b;
        std::printf("%-4zu %-8s %-8s %14.1f %14.1f %8.0f%s\n", i + 1, s.kind.c_str(),
                    fs::path(s.location).filename().c_str(), b ? b->waitMs : -1.0,
                    a ? a->waitMs : -1.0, Limit(s.kind), i == 0 ? "  (first item)" : "");
        if (a && !a->fileThere) allThere = false;
        if (i == 0) continue;
        const int k = s.kind == "picture" ? 0 : s.kind == "video" ? 1 : 2;
        if (b) worstBefore[k] = std::max(worstBefore[k], b->waitMs);
        if (a) worstAfter[k] = std::max(worstAfter[k], a->waitMs);
    }
    std::printf("\nlongest wait after the first item (ms):  picture  video\n");
    std::printf("  at its turn                           %7.1f %6.1f\n", worstBefore[0], worstBefore[1]);
    std::printf("  prefetch                              %7.1f %6.1f\n", worstAfter[0], worstAfter[1]);
    std::printf("requests: at its turn %d, prefetch %d (one HEAD and one GET per file: %d)\n",
                requestsBefore, requestsAfter, 4 * kPairs);
    const bool met = worstAfter[0] <= kPictureLimitMs && worstAfter[1] <= kVideoLimitMs &&
                     after.size() == 2u * kPairs && allThere;
    std::printf("goal (picture <= %.0f ms, video <= %.0f ms, every file there): %s\n",
                kPictureLimitMs, kVideoLimitMs, met ? "met" : "NOT met");
    return met ? 0 : 1;
}
