// The play loop with the real media download against a loopback server.
#include <filesystem>

#include <gtest/gtest.h>

#include "play_loop_fakes.h"
#include "tests/support/files.h"
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

}  // namespace
}  // namespace zorvak::test
