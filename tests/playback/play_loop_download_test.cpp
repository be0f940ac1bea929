// The play loop with the real media download against a loopback server.
#include <QTimer>

#include <filesystem>

#include <gtest/gtest.h>

#include "play_loop_fakes.h"
#include "tests/support/files.h"
#include "playlist/media_prefetch.h"
#include "tests/support/qt_core_loop.h"
#include "tools/testserver/test_server.h"

namespace zorvak::test {
namespace {

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
    MediaPrefetch prefetch{dir, connectivity, HttpLimits{3000ms, 3000ms}};
    PrefetchingRig() {
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
    rig.server.Route("/v.mp4", SlowVideo(video, 60ms));  // about 1.8 s
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

}  // namespace
}  // namespace zorvak::test
