// The play loop with the real media download against a loopback server.
#include <QTimer>

#include <filesystem>
#include <map>
#include <optional>

#include <gtest/gtest.h>

#include "play_loop_fakes.h"
#include "tests/support/fake_monotonic_clock.h"
#include "tests/support/files.h"
#include "playlist/media_prefetch.h"
#include "tests/support/qt_core_loop.h"
#include "tools/testserver/test_server.h"

namespace zorvak::test {
namespace {

// Limits for a slow body on a test clock that moves a second at every
// reading: neither stall nor the low-speed limit (0: none) ends the transfer,
// since on that clock any body would look like a trickle.
HttpLimits SlowBodyLimits() { return HttpLimits{std::chrono::hours(100), std::chrono::hours(100), 0}; }


using namespace std::chrono_literals;

struct DownloadingRig : LoopRig {
    TestServer server;
    std::vector<std::string> messages;
    MediaDownloader downloader{dir, connectivity, pump,
                               [this](const std::string& text) { messages.push_back(text); },
                               HttpLimits{2000ms, 2000ms}};
    DownloadingRig() {
        download = [this](const std::string& name, const std::string& url) {
            return downloader.DownloadMediaFile(name, url);
        };
    }
};

TEST(PlayLoopDownload, AMissingFileIsFetchedAndShownInTheSamePass) {
    DownloadingRig rig;
    const std::string jpeg(50000, 'j');
    rig.server.Route("/m.jpg", Response::Text(jpeg, "image/jpeg"));
    rig.Insert({.order_sx = 1, .listurl = rig.server.Url("/m.jpg"), .f_filename = "m.jpg"});
    rig.Insert({.order_sx = 2, .listurl = rig.server.Url("/m.jpg"), .f_filename = "m.jpg",
                .play_time = 3});

    rig.loop->PlayOnce();

    ASSERT_EQ(rig.presenters.calls.size(), 2u);
    EXPECT_EQ(rig.presenters.calls[0], (ShowCall{"image", rig.CachePath("m.jpg"), 10, 0}));
    EXPECT_TRUE(rig.presenters.calls[0].fileExisted);
    EXPECT_EQ(ReadFile(rig.CachePath("m.jpg")), jpeg);
    // The second row with the same file name plays the cached file: one download.
    EXPECT_EQ(rig.server.RequestCount("/m.jpg"), 2);  // HEAD and GET
    EXPECT_EQ(rig.presenters.calls[1].location, rig.CachePath("m.jpg"));
}

TEST(PlayLoopDownload, AStopDuringADownloadTakesEffectAfterThatItem) {
    DownloadingRig rig;
    Response slow = Response::Text(std::string(8000, 'v'));
    slow.chunkSize = 1000;
    slow.chunkDelay = 10ms;
    rig.server.Route("/v.mp4", slow);
    rig.Insert({.order_sx = 1, .f_lx = "20", .listurl = rig.server.Url("/v.mp4"),
                .f_filename = "v.mp4"});
    rig.Insert({.order_sx = 2, .f_filename = "z.jpg"});
    rig.Cache("z.jpg");
    bool stopped = false;
    rig.pump.onPump = [&](int) {
        if (!stopped && std::filesystem::exists(rig.CachePath("v.mp4") + ".tmp")) {
            stopped = true;
            rig.Esc();
        }
    };

    rig.loop->PlayInLoop();

    EXPECT_TRUE(stopped);
    ASSERT_EQ(rig.presenters.calls.size(), 1u);
    EXPECT_EQ(rig.presenters.calls[0], (ShowCall{"video", rig.CachePath("v.mp4"), 10, 0}));
    EXPECT_TRUE(rig.presenters.calls[0].fileExisted);
    EXPECT_EQ(rig.chrome.calls, (std::vector<bool>{false, true}));
}

TEST(PlayLoopDownload, AFailedDownloadStillHandsTheRowToItsPresenter) {
    DownloadingRig rig;
    rig.Insert({.order_sx = 1, .listurl = rig.server.Url("/missing.jpg"), .f_filename = "m.jpg"});

    rig.loop->PlayOnce();

    ASSERT_EQ(rig.presenters.calls.size(), 1u);
    EXPECT_EQ(rig.presenters.calls[0], (ShowCall{"image", rig.CachePath("m.jpg"), 10, 0}));
    EXPECT_FALSE(rig.presenters.calls[0].fileExisted);
    EXPECT_FALSE(std::filesystem::exists(rig.CachePath("m.jpg") + ".tmp"));
}

// The loop with the client's way of downloading: the media prefetch, whose
// transfers run on the Qt event loop while the loop waits.
struct PrefetchingRig : LoopRig {
    TestServer server;
    std::vector<std::string> messages;
    MediaPrefetch prefetch;
    // The prefetch keeps its time limits on prefetchClock.
    explicit PrefetchingRig(MonotonicClock& prefetchClock = SteadyMonotonicClock::Instance(),
                            HttpLimits limits = HttpLimits{3000ms, 3000ms})
        : prefetch(dir, connectivity, limits, prefetchClock) {
        QtCoreApp();
        download = [this](const std::string& name, const std::string& url) {
            return prefetch.DownloadForRun(
                name, url, [this] { return !flags.KeepPlaying || flags.Quitting; },
                [this](const std::string& text) { messages.push_back(text); });
        };
    }
};

// Pieces of 2,000 bytes, delay apart.
Response SlowVideo(const std::string& body, std::chrono::milliseconds delay = 10ms) {
    Response r = Response::Text(body, "video/mp4");
    r.chunkSize = 2000;
    r.chunkDelay = delay;
    return r;
}

// The loop reaches a video whose transfer the prefetch has under way: it waits
// for it and shows the whole file, and the server sees one HEAD and one GET.
TEST(PlayLoopDownload, ReachingAFileBeingPrefetchedWaitsForThatTransfer) {
    PrefetchingRig rig;
    const std::string video(60'000, 'v');
    rig.server.Route("/v.mp4", SlowVideo(video));
    rig.Insert({.order_sx = 1, .f_lx = "20", .listurl = rig.server.Url("/v.mp4"),
                .f_filename = "v.mp4"});
    rig.prefetch.Schedule(rig.store.ValidLocalMedia());
    ASSERT_TRUE(ServeQtUntil([&] { return rig.server.RequestCount("/v.mp4") == 2; }, 5s));
    ASSERT_FALSE(std::filesystem::exists(rig.CachePath("v.mp4")));

    rig.loop->PlayOnce();

    ASSERT_EQ(rig.presenters.calls.size(), 1u);
    EXPECT_EQ(rig.presenters.calls[0], (ShowCall{"video", rig.CachePath("v.mp4"), 10, 0}));
    EXPECT_TRUE(rig.presenters.calls[0].fileExisted);
    EXPECT_EQ(ReadFile(rig.CachePath("v.mp4")), video);
    EXPECT_EQ(rig.server.RequestCount("/v.mp4"), 2);
    EXPECT_TRUE(rig.messages.empty());
}

// Esc while the loop waits for a file: the wait ends, nothing is shown, the
// run ends with the desktop back, and the transfer completes afterwards.
TEST(PlayLoopDownload, EscEndsTheWaitForAFileAndTheTransferGoesOn) {
    PrefetchingRig rig;
    const std::string video(60'000, 'e');
    rig.server.Route("/v.mp4", SlowVideo(video, 120ms));  // about 3.6 s
    rig.Insert({.order_sx = 1, .f_lx = "20", .listurl = rig.server.Url("/v.mp4"),
                .f_filename = "v.mp4"});
    rig.Insert({.order_sx = 2, .f_filename = "z.jpg"});
    rig.Cache("z.jpg");
    // The operator's key arrives as an event while the loop waits.
    QTimer::singleShot(60, QCoreApplication::instance(), [&] { rig.Esc(); });

    rig.loop->PlayInLoop();

    EXPECT_TRUE(rig.presenters.calls.empty());
    EXPECT_EQ(rig.chrome.calls, (std::vector<bool>{false, true}));
    // The run ended before the transfer did.
    EXPECT_FALSE(std::filesystem::exists(rig.CachePath("v.mp4")));
    EXPECT_TRUE(std::filesystem::exists(rig.CachePath("v.mp4.tmp")));
    ASSERT_TRUE(ServeQtUntil([&] { return std::filesystem::exists(rig.CachePath("v.mp4")); }, 5s));
    EXPECT_EQ(ReadFile(rig.CachePath("v.mp4")), video);
    EXPECT_EQ(rig.server.RequestCount("/v.mp4"), 2);
}

// A failing download: the row goes to its presenter all the same (as with
// the waiting download), and the next row's file still comes.
TEST(PlayLoopDownload, APrefetchFailureStillHandsTheRowOnAndTheNextFileComes) {
    PrefetchingRig rig;
    rig.server.Route("/next.jpg", Response::Text("next", "image/jpeg"));
    rig.Insert({.order_sx = 1, .listurl = rig.server.Url("/missing.jpg"), .f_filename = "m.jpg"});
    rig.Insert({.order_sx = 2, .listurl = rig.server.Url("/next.jpg"), .f_filename = "n.jpg"});

    rig.loop->PlayOnce();

    ASSERT_EQ(rig.presenters.calls.size(), 2u);
    EXPECT_FALSE(rig.presenters.calls[0].fileExisted);
    EXPECT_EQ(rig.presenters.calls[1], (ShowCall{"image", rig.CachePath("n.jpg"), 10, 0}));
    EXPECT_TRUE(rig.presenters.calls[1].fileExisted);
    EXPECT_EQ(rig.server.RequestCount("/missing.jpg"), 1);  // the HEAD only
}

// Every media server refuses and nothing is cached: after the first pass
// each file is tried again only after its delay (1 s doubling to 60 s) and
// the run no longer waits for it; the passes, showing nothing, wait 1 s
// doubling to 60 s between them. Ten minutes make a few attempts, records
// and log lines per file, not thousands.
TEST(PlayLoopDownload, WithEveryServerRefusingThePassesAndTheRetriesBackOff) {
    FakeMonotonicClock clock;  // the prefetch's, moved with the loop's
    PrefetchingRig rig(clock, HttpLimits{std::chrono::hours(1), std::chrono::hours(1), 0});
    KeepingObserver observer;
    rig.MakeLoop(&observer);
    KeepingLog log;
    rig.presenters.notShownWithoutFile = true;
    rig.Insert({.order_sx = 1, .listurl = "http://127.0.0.1:9/a.jpg", .f_filename = "a.jpg"});
    rig.Insert({.order_sx = 2, .f_lx = "20", .listurl = "http://127.0.0.1:9/b.mp4",
                .f_filename = "b.mp4"});
    std::map<std::string, int> attempts;
    rig.prefetch.SetFinishedListener([&](const std::string& name, const DownloadResult& r) {
        EXPECT_EQ(r.kind, DownloadResult::Kind::kFailed) << name;
        ++attempts[name];
    });
    const auto start = rig.monotonic.Now();
    rig.pump.onWait = [&](std::chrono::milliseconds limit) {
        rig.monotonic.Advance(limit);
        clock.Advance(limit);
        // The background attempts run while the loop waits.
        QCoreApplication::processEvents();
        if (rig.monotonic.Now() - start >= std::chrono::minutes(10)) rig.Esc();
    };
    rig.pump.onPump = [&](int n) {
        if (n == 3000) rig.Esc();
    };

    rig.loop->PlayInLoop();

    EXPECT_GE(rig.monotonic.Now() - start, std::chrono::minutes(10));
    // 15 passes in ten minutes (see PassesThatShowNothingWaitLongerAndLonger…),
    // a retry at most at each.
    for (const char* name : {"a.jpg", "b.mp4"}) {
        EXPECT_GE(attempts[name], 5) << name;
        EXPECT_LE(attempts[name], 16) << name;
    }
    // The first pass handed both rows on, as a failed download is; after it
    // the rows were skipped.
    EXPECT_EQ(rig.presenters.calls.size(), 2u);
    EXPECT_LE(observer.items.size(), 2u * 16);
    for (const PlayedItem& item : observer.items)
        EXPECT_EQ(item.end.cause, ItemEndCause::kNotShown);
    EXPECT_NE(observer.items.back().end.detail.find("download failed"), std::string::npos)
        << observer.items.back().end.detail;
    // Each repeated failure is counted in one line.
    EXPECT_EQ(log.Count("a.jpg failed again (3 times), next try in 4 s"), 1);
    EXPECT_EQ(log.Count("b.mp4 failed again (3 times), next try in 4 s"), 1);
    EXPECT_LE(log.lines.size(), 100u);
    EXPECT_FALSE(std::filesystem::exists(rig.CachePath("a.jpg")));
}

// A file that takes longer than a run waits: the run moves on to the rows it
// can show, the transfer goes on in the background (one HEAD and one GET),
// and a later pass shows the file once it is complete.
TEST(PlayLoopDownload, AFileSlowerThanTheWaitIsShownByALaterPass) {
    // Every reading moves the prefetch's clock by a second: the wait reaches
    // its limit after a few turns.
    FakeMonotonicClock clock(std::chrono::seconds(1));
    PrefetchingRig rig(clock, SlowBodyLimits());
    KeepingObserver observer;
    rig.MakeLoop(&observer);
    const std::string video(60'000, 'v');
    rig.server.Route("/v.mp4", SlowVideo(video, 120ms));  // about 3.6 s
    rig.Insert({.order_sx = 1, .f_lx = "20", .listurl = rig.server.Url("/v.mp4"),
                .f_filename = "v.mp4"});
    rig.Insert({.order_sx = 2, .f_filename = "z.jpg"});
    rig.Cache("z.jpg");
    // Each item is on screen for 100 ms, serving events; the run ends when
    // the video was shown, or after 200 items.
    rig.presenters.onEveryShow = [&] {
        ServeQtFor(100ms);
        if (rig.presenters.calls.back().kind == "video" || rig.presenters.calls.size() == 200)
            rig.Esc();
    };

    rig.loop->PlayInLoop();

    ASSERT_GE(rig.presenters.calls.size(), 2u);
    EXPECT_EQ(rig.presenters.calls.front(), (ShowCall{"image", rig.CachePath("z.jpg"), 10, 0}));
    EXPECT_EQ(rig.presenters.calls.back(), (ShowCall{"video", rig.CachePath("v.mp4"), 10, 0}));
    EXPECT_TRUE(rig.presenters.calls.back().fileExisted);
    EXPECT_EQ(ReadFile(rig.CachePath("v.mp4")), video);
    EXPECT_EQ(rig.server.RequestCount("/v.mp4"), 2);
    ASSERT_FALSE(observer.items.empty());
    EXPECT_EQ(observer.items.front().fileName, "v.mp4");
    EXPECT_EQ(observer.items.front().end.cause, ItemEndCause::kNotShown);
    EXPECT_NE(observer.items.front().end.detail.find("not complete after 10 s"),
              std::string::npos)
        << observer.items.front().end.detail;
    // No pass waited: each showed the picture.
    EXPECT_EQ(rig.pump.waits, 0);
}

// Nothing cached and one slow file: the run waits for it a short while, then
// the pass, having shown nothing, waits; the file's arrival ends that wait
// and the next pass shows it.
TEST(PlayLoopDownload, OnAFirstStartTheItemAppearsWhenItsFileArrives) {
    FakeMonotonicClock clock(std::chrono::seconds(1));
    PrefetchingRig rig(clock, SlowBodyLimits());
    const std::string video(60'000, 'f');
    rig.server.Route("/v.mp4", SlowVideo(video, 120ms));  // about 3.6 s
    rig.Insert({.order_sx = 1, .f_lx = "20", .listurl = rig.server.Url("/v.mp4"),
                .f_filename = "v.mp4"});
    std::optional<MonotonicClock::time_point> arrived;
    rig.pump.onWait = [&](std::chrono::milliseconds limit) {
        // The wait takes its time, serving events.
        ServeQtFor(limit);
        rig.monotonic.Advance(limit);
        if (!arrived && std::filesystem::exists(rig.CachePath("v.mp4")))
            arrived = rig.monotonic.Now();
        if (rig.pump.waits == 400) rig.Esc();
    };
    std::optional<MonotonicClock::time_point> shown;
    rig.presenters.onEveryShow = [&] {
        shown = rig.monotonic.Now();
        rig.Esc();
    };

    rig.loop->PlayInLoop();

    ASSERT_EQ(rig.presenters.calls.size(), 1u);
    EXPECT_EQ(rig.presenters.calls[0], (ShowCall{"video", rig.CachePath("v.mp4"), 10, 0}));
    EXPECT_TRUE(rig.presenters.calls[0].fileExisted);
    // Shown within a slice of the file's arrival, after at least one wait.
    EXPECT_GT(rig.pump.waits, 0);
    ASSERT_TRUE(arrived.has_value());
    ASSERT_TRUE(shown.has_value());
    EXPECT_EQ(*shown, *arrived);
    EXPECT_EQ(rig.server.RequestCount("/v.mp4"), 2);
}

}  // namespace
}  // namespace zorvak::test
