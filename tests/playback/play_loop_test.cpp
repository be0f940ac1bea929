#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "play_loop_fakes.h"
#include "system/restart_control.h"

namespace zorvak::test {
namespace {

using Calls = std::vector<ShowCall>;

ShowCall Image(const std::string& location, int seconds, int online = 0) {
    return {"image", location, seconds, online};
}
ShowCall Video(const std::string& location, int seconds, int online = 0) {
    return {"video", location, seconds, online};
}
ShowCall Page(const std::string& location, int seconds, int online = 0) {
    return {"page", location, seconds, online};
}

// The file name a test row was inserted with.
std::string RowName(const PlaylistItem& row) {
    return row.f_filename.HasText() ? row.f_filename.Text() : std::string();
}

TEST(PlayLoop, PlayOnceShowsTheValidRowsInOrderThenBringsTheChromeBack) {
    LoopRig rig;
    // Inserted out of order; one row outside its window; one with 0 seconds.
    rig.Insert({.order_sx = 3, .f_filename = "c.jpg", .play_time = 30});
    rig.Insert({.order_sx = 1, .f_filename = "a.jpg", .play_time = 0});
    rig.Insert({.order_sx = 2, .f_filename = "b.jpg", .play_time = 20});
    rig.Insert({.order_sx = 4, .f_filename = "d.jpg", .f_enddate = "2024-06-01 11:59:59"});
    for (auto name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg"}) rig.Cache(name);
    rig.presenters.At(0, [&] { EXPECT_EQ(rig.chrome.calls, std::vector<bool>{false}); });

    rig.loop->PlayOnce();

    EXPECT_EQ(rig.presenters.calls, (Calls{Image(rig.CachePath("a.jpg"), 0),
                                           Image(rig.CachePath("b.jpg"), 20),
                                           Image(rig.CachePath("c.jpg"), 30)}));
    EXPECT_EQ(rig.chrome.calls, (std::vector<bool>{false, true}));
    EXPECT_TRUE(rig.flags.PlayActive);
    EXPECT_TRUE(rig.flags.KeepPlaying);
    EXPECT_FALSE(rig.flags.RepeatList);
    // One pump after every played row; play once neither minimises nor asks the shell.
    EXPECT_EQ(rig.pump.count, 3);
    EXPECT_EQ(rig.minimised, 0);
    EXPECT_TRUE(rig.shell.asked.empty());
    EXPECT_EQ(rig.shell.kills, 0);
    EXPECT_TRUE(rig.downloads.empty());
}

TEST(PlayLoop, EveryItemTypeGoesToItsPresenterWithItsLocation) {
    LoopRig rig;
    rig.Insert({.order_sx = 1, .f_lx = "20", .listurl = "http://h/v.mp4", .f_filename = "v.mp4"});
    rig.Insert({.order_sx = 2, .f_lx = "20", .listurl = "http://h/w.mp4", .f_filename = "w.mp4",
                .online_play = "1", .play_time = 5});
    rig.Insert({.order_sx = 3, .f_lx = "10", .listurl = "http://h/i.jpg", .f_filename = "i.jpg",
                .online_play = "2", .play_time = 6});
    rig.Insert({.order_sx = 4, .f_lx = "30", .listurl = "http://h/p.html", .f_filename = "p.html",
                .online_play = "1", .play_time = 7});
    // A local web page is shown from its cache file.
    rig.Insert({.order_sx = 5, .f_lx = "30", .listurl = "http://h/q.html", .f_filename = "q.html",
                .play_time = 8});
    rig.Cache("v.mp4");
    rig.Cache("q.html");

    rig.loop->PlayOnce();

    EXPECT_EQ(rig.presenters.calls,
              (Calls{Video(rig.CachePath("v.mp4"), 10), Video("http://h/w.mp4", 5, 1),
                     Image("http://h/i.jpg", 6, 1), Page("http://h/p.html", 7, 1),
                     Page(rig.CachePath("q.html"), 8)}));
}

TEST(PlayLoop, ARunThatCannotStartReturnsAtOnceAndClearsPlayActive) {
    struct Case {
        const char* name;
        std::function<void(LoopRig&)> arrange;
    };
    const Case cases[] = {
        {"connection closed", [](LoopRig& r) { r.store.CloseConnection(); }},
        {"no row valid now",
         [](LoopRig& r) {
             r.Insert({.order_sx = 1, .f_startdate = "2024-06-01 12:00:01"});
             r.Insert({.order_sx = 2, .f_enddate = "2024-06-01 11:59:59"});
             r.Insert({.order_sx = 3, .f_startdate = "", .f_enddate = ""});
         }},
        {"selection fails", [](LoopRig& r) { r.Exec("DROP TABLE t_b_data"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LoopRig rig;
        rig.Cache("a.jpg");
        c.arrange(rig);
        rig.loop->PlayOnce();
        EXPECT_TRUE(rig.presenters.calls.empty());
        EXPECT_TRUE(rig.chrome.calls.empty());
        EXPECT_FALSE(rig.flags.PlayActive);
        EXPECT_EQ(rig.pump.count, 0);
    }
}

TEST(PlayLoop, LoopPlaySelectsTheValidRowsAfreshAtEveryWrap) {
    LoopRig rig;
    rig.Insert({.order_sx = 1, .f_filename = "leaves.jpg", .f_enddate = "2024-06-01 12:00:30"});
    rig.Insert({.order_sx = 2, .f_filename = "stays.jpg"});
    rig.Insert({.order_sx = 3, .f_filename = "joins.jpg", .f_startdate = "2024-06-01 12:01:00"});
    for (auto name : {"leaves.jpg", "stays.jpg", "joins.jpg"}) rig.Cache(name);
    int opens = 0;
    rig.store.PlayList().SetChangeListener([&] { ++opens; });
    // While the second item is on screen the clock passes both dates.
    rig.presenters.At(1, [&] { rig.clock.Set({2024, 6, 1, 12, 2, 0}); });
    rig.presenters.At(3, [&] { rig.Esc(); });

    rig.loop->PlayInLoop();

    EXPECT_EQ(rig.presenters.calls,
              (Calls{Image(rig.CachePath("leaves.jpg"), 10), Image(rig.CachePath("stays.jpg"), 10),
                     Image(rig.CachePath("stays.jpg"), 10), Image(rig.CachePath("joins.jpg"), 10)}));
    EXPECT_EQ(rig.chrome.calls, (std::vector<bool>{false, true}));
    // Close and open at the start and at the one wrap.
    EXPECT_EQ(opens, 4);
    EXPECT_EQ(rig.minimised, 1);
    EXPECT_EQ(rig.presenters.closes, 1);
    EXPECT_TRUE(rig.flags.PlayActive);
    EXPECT_FALSE(rig.flags.KeepPlaying);
}

// A row that cannot be shown is passed over at each turn; the run goes on
// with the rows that can be, whichever row it is.
TEST(PlayLoop, ALoopRunGoesOnPastARowThatCannotBeShown) {
    struct Case {
        const char* name;
        PlaylistItem skipped;
        bool online;
    };
    const Case cases[] = {
        {"empty listurl", {.listurl = "", .f_filename = "b.jpg"}, true},
        {"local file missing while offline", {.f_filename = "missing.jpg"}, false},
    };
    for (const Case& c : cases) {
        for (int order : {0, 2}) {  // the first row, the last row
            SCOPED_TRACE(std::string(c.name) + (order == 0 ? ", first row" : ", last row"));
            LoopRig rig;
            rig.connectivity.online = c.online;
            rig.Insert({.order_sx = 1, .f_filename = "a.jpg"});
            PlaylistItem skipped = c.skipped;
            skipped.order_sx = order;
            rig.Insert(skipped);
            rig.Cache("a.jpg");
            rig.presenters.At(2, [&] { rig.Esc(); });

            rig.loop->PlayInLoop();

            EXPECT_EQ(rig.presenters.calls,
                      (Calls{Image(rig.CachePath("a.jpg"), 10), Image(rig.CachePath("a.jpg"), 10),
                             Image(rig.CachePath("a.jpg"), 10)}));
            EXPECT_EQ(rig.chrome.calls, (std::vector<bool>{false, true}));
            EXPECT_TRUE(rig.flags.PlayActive);
            EXPECT_TRUE(rig.downloads.empty());
            // Every pass showed an item: no pass waited.
            EXPECT_EQ(rig.pump.waits, 0);
        }
    }
}

// Nothing can be shown (offline, no file in the cache): the passes wait for
// 1 s, 2 s, 4 s ... 60 s, serving events, and Esc ends a wait at once. Each
// row is recorded as not shown, with its reason, once a pass.
TEST(PlayLoop, PassesThatShowNothingWaitLongerAndLongerServingEvents) {
    LoopRig rig;
    KeepingObserver observer;
    rig.MakeLoop(&observer);
    rig.connectivity.online = false;
    rig.Insert({.order_sx = 1, .f_filename = "a.jpg"});
    rig.Insert({.order_sx = 2, .f_lx = "20", .f_filename = "b.mp4"});
    const auto start = rig.monotonic.Now();
    std::vector<long> passStarts;  // seconds since the start, at each selection
    rig.store.PlayList().SetChangeListener([&] {
        if (rig.store.PlayList().IsOpen())
            passStarts.push_back(std::chrono::duration_cast<std::chrono::seconds>(
                                     rig.monotonic.Now() - start).count());
    });
    const auto tenMinutes = std::chrono::minutes(10);
    rig.pump.onWait = [&](std::chrono::milliseconds limit) {
        EXPECT_LE(limit, PlayLoop::kWaitSlice);
        rig.monotonic.Advance(limit);
        if (rig.monotonic.Now() - start >= tenMinutes) rig.Esc();
    };
    // Should the loop never wait, it still ends.
    rig.pump.onPump = [&](int n) {
        if (n == 2000) rig.Esc();
    };

    rig.loop->PlayInLoop();

    const std::vector<long> expected = {0, 1, 3, 7, 15, 31, 63, 123, 183, 243, 303, 363, 423, 483,
                                        543};
    EXPECT_EQ(passStarts, expected);
    // Esc ended the last wait within one slice.
    EXPECT_LT(rig.monotonic.Now() - start, tenMinutes + PlayLoop::kWaitSlice);
    EXPECT_EQ(rig.chrome.calls, (std::vector<bool>{false, true}));
    EXPECT_TRUE(rig.presenters.calls.empty());
    // Two rows, once for each of the 15 passes.
    ASSERT_EQ(observer.items.size(), 2 * expected.size());
    for (const PlayedItem& item : observer.items) {
        EXPECT_EQ(item.end.cause, ItemEndCause::kNotShown);
        EXPECT_NE(item.end.detail.find("offline"), std::string::npos) << item.end.detail;
    }
    EXPECT_EQ(observer.items[1].kind, ItemKind::kVideo);
    EXPECT_EQ(observer.items[1].rowId, 2);
}

// An item shown ends the waiting: the next empty pass waits 1 s again.
TEST(PlayLoop, AnItemShownBringsTheWaitBackToOneSecond) {
    LoopRig rig;
    rig.connectivity.online = false;
    rig.Insert({.order_sx = 1, .f_filename = "a.jpg"});
    const auto start = rig.monotonic.Now();
    std::vector<long> passStarts;
    rig.store.PlayList().SetChangeListener([&] {
        if (rig.store.PlayList().IsOpen())
            passStarts.push_back(std::chrono::duration_cast<std::chrono::seconds>(
                                     rig.monotonic.Now() - start).count());
    });
    // The file arrives at 20 s, during the fifth wait, and is gone again
    // after its one showing.
    rig.pump.onWait = [&](std::chrono::milliseconds limit) {
        rig.monotonic.Advance(limit);
        if (rig.monotonic.Now() - start == std::chrono::seconds(20)) rig.Cache("a.jpg");
        if (rig.monotonic.Now() - start >= std::chrono::seconds(40)) rig.Esc();
    };
    rig.presenters.At(0, [&] { std::filesystem::remove(rig.CachePath("a.jpg")); });

    rig.loop->PlayInLoop();

    // Waits of 1, 2, 4, 8, 16; the sixth pass shows the file (found in the
    // cache) and wraps at once; then waits of 1, 2, 4 again, and Esc during
    // the fourth ends the run without a wrap.
    const std::vector<long> expected = {0, 1, 3, 7, 15, 31, 31, 32, 34, 38};
    EXPECT_EQ(passStarts, expected);
    EXPECT_EQ(rig.presenters.calls.size(), 1u);
}

TEST(PlayLoop, AnUnknownTypeShowsNothingButCountsAsPlayed) {
    LoopRig rig;
    rig.Insert({.order_sx = 1, .f_filename = "a.jpg"});
    rig.Insert({.order_sx = 2, .f_lx = "11", .f_filename = "b.jpg"});
    rig.Insert({.order_sx = 3, .f_lx = " 10", .f_filename = "c.jpg"});
    for (auto name : {"a.jpg", "b.jpg", "c.jpg"}) rig.Cache(name);
    rig.presenters.At(1, [&] { rig.Esc(); });

    rig.loop->PlayInLoop();

    // The wrap after " 10" brought the first row back.
    EXPECT_EQ(rig.presenters.calls,
              (Calls{Image(rig.CachePath("a.jpg"), 10), Image(rig.CachePath("a.jpg"), 10)}));
    // Three rows pumped after moving on, plus the pump at the wrap, plus the
    // pump after the second showing of the first row.
    EXPECT_EQ(rig.pump.count, 5);
    EXPECT_EQ(rig.chrome.calls, (std::vector<bool>{false, true}));
}

// A row needs an address and a file name, online or not; a local row's name
// must also name a file inside the cache. An online row's name never becomes
// a path, so whatever it holds, the row is shown.
TEST(PlayLoop, RowsWithoutAddressOrFileNameAndLocalRowsWithUnsafeNamesAreSkipped) {
    LoopRig rig;
    rig.Insert({.order_sx = 1, .listurl = "http://h/1", .f_filename = "", .online_play = "1"});
    rig.Insert({.order_sx = 2, .listurl = "", .f_filename = "b.jpg", .online_play = "1"});
    rig.Insert({.order_sx = 3, .listurl = "", .f_filename = "c.jpg"});
    rig.Insert({.order_sx = 4, .f_filename = "../escape.jpg"});
    rig.Insert({.order_sx = 5, .f_filename = "sub/x.jpg"});
    rig.Insert({.order_sx = 6, .f_filename = "C:x.jpg"});
    rig.Insert({.order_sx = 7, .f_filename = ".."});
    rig.Insert({.order_sx = 8, .listurl = "http://h/ok", .f_filename = "ok.jpg", .online_play = "1"});
    rig.Insert({.order_sx = 9, .listurl = "http://h/sub", .f_filename = "sub/x.jpg", .online_play = "1"});
    rig.Insert({.order_sx = 10, .f_lx = "30", .listurl = "http://h/page", .f_filename = "..",
                .online_play = "1"});

    rig.loop->PlayOnce();

    EXPECT_EQ(rig.presenters.calls, (Calls{Image("http://h/ok", 10, 1), Image("http://h/sub", 10, 1),
                                           Page("http://h/page", 10, 1)}));
    EXPECT_TRUE(rig.downloads.empty());
    EXPECT_EQ(rig.pump.count, 3);
    EXPECT_FALSE(std::filesystem::exists(rig.folder.Path() + "escape.jpg"));
}

TEST(PlayLoop, AMissingLocalFileIsDownloadedAndPlayedInTheSamePass) {
    struct Case {
        const char* name;
        bool online;
        std::function<bool(LoopRig&, const std::string&)> download;
        bool downloadCalled;
        bool shown;
    };
    auto fetches = [](LoopRig& r, const std::string& name) {
        WriteFile(r.CachePath(name), "jpeg");
        return true;
    };
    const Case cases[] = {
        {"download brings the file", true, fetches, true, true},
        {"download says false", true, [](LoopRig&, const std::string&) { return false; }, true,
         false},
        // An error is swallowed and the presenter gets the row all the same.
        {"download fails", true,
         [](LoopRig&, const std::string&) -> bool { throw DownloadError("status 404"); }, true,
         true},
        {"offline", false, fetches, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LoopRig rig;
        rig.connectivity.online = c.online;
        rig.download = [&](const std::string& name, const std::string&) {
            return c.download(rig, name);
        };
        rig.Insert({.order_sx = 1, .listurl = "http://h/m.jpg", .f_filename = "m.jpg"});
        rig.Insert({.order_sx = 2, .f_filename = "z.jpg"});
        rig.Cache("z.jpg");

        rig.loop->PlayOnce();

        using Download = std::pair<std::string, std::string>;
        const std::vector<Download> none, one = {{"m.jpg", "http://h/m.jpg"}};
        EXPECT_EQ(rig.downloads, c.downloadCalled ? one : none);
        Calls expected;
        if (c.shown) expected.push_back(Image(rig.CachePath("m.jpg"), 10));
        expected.push_back(Image(rig.CachePath("z.jpg"), 10));
        EXPECT_EQ(rig.presenters.calls, expected);
        if (c.shown) {
            EXPECT_EQ(rig.presenters.calls[0].fileExisted,
                      std::string(c.name) == "download brings the file");
        }
    }
}

TEST(PlayLoop, OnlineItemsWhileOfflineCycleWithoutPauseUntilEsc) {
    LoopRig rig;
    rig.connectivity.online = false;
    for (int i = 1; i <= 3; ++i)
        rig.Insert({.order_sx = i, .listurl = "http://h/" + std::to_string(i),
                    .f_filename = std::to_string(i) + ".jpg", .online_play = "1"});
    int opens = 0;
    rig.store.PlayList().SetChangeListener([&] { ++opens; });
    // Each cycle pumps after each of its three rows and once at its wrap.
    rig.pump.onPump = [&](int n) {
        if (n == 4 * 5) rig.Esc();
    };

    rig.loop->PlayInLoop();

    ASSERT_EQ(rig.presenters.calls.size(), 15u);
    for (std::size_t i = 0; i < rig.presenters.calls.size(); ++i)
        EXPECT_EQ(rig.presenters.calls[i], Image("http://h/" + std::to_string(i % 3 + 1), 10, 1));
    EXPECT_EQ(rig.pump.count, 20);
    // Made afresh at the start and at each of the five wraps.
    EXPECT_EQ(opens, 2 * 6);
    EXPECT_EQ(rig.chrome.calls, (std::vector<bool>{false, true}));
}

TEST(PlayLoop, NestedHandlersSteerTheRunThroughTheFlags) {
    // A watchdog tick during a play-once run turns it into a loop run.
    {
        LoopRig rig;
        rig.Insert({.order_sx = 1, .f_filename = "a.jpg"});
        rig.Insert({.order_sx = 2, .f_filename = "b.jpg"});
        rig.Cache("a.jpg");
        rig.Cache("b.jpg");
        rig.presenters.At(0, [&] { rig.WatchdogTick(); });
        rig.presenters.At(2, [&] { rig.Esc(); });
        rig.loop->PlayOnce();
        EXPECT_EQ(rig.presenters.calls,
                  (Calls{Image(rig.CachePath("a.jpg"), 10), Image(rig.CachePath("b.jpg"), 10),
                         Image(rig.CachePath("a.jpg"), 10)}));
        EXPECT_EQ(rig.chrome.calls, (std::vector<bool>{false, true}));
    }
    // The stop button clears all three flags: the run ends after the item.
    {
        LoopRig rig;
        rig.Insert({.order_sx = 1, .f_filename = "a.jpg"});
        rig.Insert({.order_sx = 2, .f_filename = "b.jpg"});
        rig.Cache("a.jpg");
        rig.Cache("b.jpg");
        rig.presenters.At(0, [&] { rig.PressStop(); });
        rig.loop->PlayInLoop();
        EXPECT_EQ(rig.presenters.calls.size(), 1u);
        EXPECT_FALSE(rig.flags.PlayActive);
        EXPECT_EQ(rig.chrome.calls, (std::vector<bool>{false, true}));
    }
}

TEST(PlayLoop, AnImportDuringAnItemReachesTheRotationAtTheNextWrap) {
    LoopRig rig;
    rig.Insert({.order_sx = 1, .f_filename = "a.jpg"});
    rig.Insert({.order_sx = 2, .f_filename = "b.jpg"});
    for (auto name : {"a.jpg", "b.jpg", "new.jpg"}) rig.Cache(name);
    const std::string document =
        "<root><item><id>1</id><f_enable>1</f_enable><playname>p</playname>"
        "<hostname>h</hostname><listurl>http://h/new.jpg</listurl>"
        "<f_filename>new.jpg</f_filename><f_date>2024-01-01</f_date><remark/><f_flag/>"
        "<parid/><f_lx>10</f_lx><order_sx>1</order_sx><play_time>4</play_time>"
        "<online_play>0</online_play><file_md5/><f_startdate>2024-01-01 00:00:00</f_startdate>"
        "<f_enddate>2024-12-31 00:00:00</f_enddate><update_time/></item></root>";
    rig.presenters.At(0, [&] { EXPECT_TRUE(rig.store.ImportPlaylist(document)); });
    rig.presenters.At(2, [&] { rig.Esc(); });

    rig.loop->PlayInLoop();

    // The snapshot of this pass still holds b.jpg; the wrap selects the new table.
    EXPECT_EQ(rig.presenters.calls,
              (Calls{Image(rig.CachePath("a.jpg"), 10), Image(rig.CachePath("b.jpg"), 10),
                     Image(rig.CachePath("new.jpg"), 4)}));
}

TEST(PlayLoop, ASecondRunInsideTheFirstWalksTheSameCursor) {
    LoopRig rig;
    rig.Insert({.order_sx = 1, .f_filename = "a.jpg"});
    rig.Insert({.order_sx = 2, .f_filename = "b.jpg"});
    rig.Cache("a.jpg");
    rig.Cache("b.jpg");
    // A play-once run started from the first item of a loop run plays the
    // list to its end. The outer run goes on from where the inner one left
    // the cursor, past the last row; play-once cleared RepeatList, so the
    // outer run ends there too, and shows the chrome again.
    rig.presenters.At(0, [&] { rig.loop->PlayOnce(); });

    rig.loop->PlayInLoop();

    EXPECT_EQ(rig.presenters.calls,
              (Calls{Image(rig.CachePath("a.jpg"), 10), Image(rig.CachePath("a.jpg"), 10),
                     Image(rig.CachePath("b.jpg"), 10)}));
    EXPECT_EQ(rig.chrome.calls, (std::vector<bool>{false, false, true, true}));
    EXPECT_TRUE(rig.flags.PlayActive);
}

TEST(PlayLoop, TheRowGuardSwallowsErrorsAndStillWraps) {
    LoopRig rig;
    rig.Insert({.order_sx = 1, .f_filename = "a.jpg"});
    // online_play that is not a number: reading it fails.
    rig.Insert({.order_sx = 2, .f_filename = "b.jpg", .online_play = "x"});
    rig.Insert({.order_sx = 3, .f_filename = "c.jpg"});
    for (auto name : {"a.jpg", "b.jpg", "c.jpg"}) rig.Cache(name);
    // The last row's presenter fails: the guard wraps to the first row.
    rig.presenters.ThrowAt(1);
    rig.presenters.At(2, [&] { rig.Esc(); });

    rig.loop->PlayInLoop();

    EXPECT_EQ(rig.presenters.calls,
              (Calls{Image(rig.CachePath("a.jpg"), 10), Image(rig.CachePath("c.jpg"), 10),
                     Image(rig.CachePath("a.jpg"), 10)}));
    // a: 1; b (guard): 1; c (guard, wrap without its last pump): 1; a: 1.
    EXPECT_EQ(rig.pump.count, 4);
    EXPECT_EQ(rig.chrome.calls, (std::vector<bool>{false, true}));
}

TEST(PlayLoop, AFailedReselectionAtAWrapEndsTheRunWithTheChromeHidden) {
    LoopRig rig;
    rig.Insert({.order_sx = 1, .f_filename = "a.jpg"});
    rig.Cache("a.jpg");
    rig.presenters.At(0, [&] { rig.Exec("DROP TABLE t_b_data"); });

    EXPECT_THROW(rig.loop->PlayInLoop(), StoreError);

    EXPECT_EQ(rig.presenters.calls.size(), 1u);
    EXPECT_EQ(rig.chrome.calls, std::vector<bool>{false});
    EXPECT_TRUE(rig.flags.PlayActive);
    // The cover of the run goes all the same: nothing of ours stays on screen.
    EXPECT_EQ(rig.presenters.runsBegun, 1);
    EXPECT_EQ(rig.presenters.runsEnded, 1);
}

// The presenters' cover lasts exactly as long as a run: begun once the
// desktop is hidden, ended however the run ends, and never for a run that
// does not start.
TEST(PlayLoop, TheCoverOfARunLastsAsLongAsTheRun) {
    {
        LoopRig rig;  // no rows: the run does not start
        rig.loop->PlayInLoop();
        EXPECT_EQ(rig.presenters.runsBegun, 0);
        EXPECT_EQ(rig.presenters.runsEnded, 0);
    }
    {
        LoopRig rig;
        rig.Insert({.order_sx = 1, .f_filename = "a.jpg"});
        rig.Cache("a.jpg");
        int begunDuringTheItem = -1;
        int endedDuringTheItem = -1;
        rig.presenters.At(0, [&] {
            begunDuringTheItem = rig.presenters.runsBegun;
            endedDuringTheItem = rig.presenters.runsEnded;
            // A second run inside the first, as a play button pressed now.
            rig.loop->PlayOnce();
            rig.controller.StopOnEscape();
        });
        rig.loop->PlayInLoop();
        EXPECT_EQ(begunDuringTheItem, 1);
        EXPECT_EQ(endedDuringTheItem, 0);
        EXPECT_EQ(rig.presenters.runsBegun, 2);
        EXPECT_EQ(rig.presenters.runsEnded, 2);
    }
}

// Once quit is asked for, the run on screen ends after its item, even when a
// watchdog tick handled meanwhile sets the flags again, and nothing starts a
// run afterwards.
TEST(PlayLoop, AfterQuitNothingKeepsOrStartsARun) {
    LoopRig rig;
    rig.Insert({.order_sx = 1, .f_filename = "a.jpg"});
    rig.Insert({.order_sx = 2, .f_filename = "b.jpg"});
    rig.Cache("a.jpg");
    rig.Cache("b.jpg");
    rig.presenters.At(0, [&] {
        rig.controller.Quit();
        rig.controller.WatchdogTick();  // handled in the short gap after quit
    });

    rig.loop->PlayInLoop();

    EXPECT_EQ(rig.presenters.calls.size(), 1u);
    EXPECT_TRUE(rig.flags.Quitting);
    EXPECT_FALSE(rig.flags.KeepPlaying);
    // The buttons and the watchdog start nothing any more.
    rig.flags.KeepPlaying = rig.flags.RepeatList = true;
    rig.loop->PlayInLoop();
    rig.loop->PlayOnce();
    rig.flags.PlayActive = false;
    rig.controller.WatchdogTick();
    EXPECT_EQ(rig.presenters.calls.size(), 1u);
    EXPECT_EQ(rig.minimised, 1);
}

TEST(PlayLoop, LoopPlayEndsTheShellOnlyWhenAskedAndRunning) {
    struct Case {
        const char* explorer;  // nullptr: not in the file
        bool running;
        bool asked;
        bool killed;
    };
    const Case cases[] = {
        {"1", true, true, true},   {" 1 ", true, true, true}, {"1", false, true, false},
        {"0", true, false, false}, {"11", true, false, false}, {nullptr, true, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.explorer ? c.explorer : "(missing)");
        LoopRig rig;
        rig.shell.running = c.running;
        if (c.explorer) {
            std::ofstream(rig.settings.FilePath())
                << "[PLAYLIST]\r\nEXPLORER=" << c.explorer << "\r\n";
        }
        rig.loop->PlayInLoop();
        EXPECT_EQ(rig.minimised, 1);
        EXPECT_EQ(rig.shell.asked,
                  c.asked ? std::vector<std::string>{"explorer.exe"} : std::vector<std::string>{});
        EXPECT_EQ(rig.shell.kills, c.killed ? 1 : 0);
        // The flags are set before the run, which finds no rows and clears PlayActive.
        EXPECT_TRUE(rig.flags.KeepPlaying);
        EXPECT_TRUE(rig.flags.RepeatList);
        EXPECT_FALSE(rig.flags.PlayActive);
    }
}

// The daily restart during an item, its reboot refused: the store and the
// selection are reopened under the run. The interrupted item ends, no other
// presenter gets its file, and the run goes on with the next row's own data.
TEST(PlayLoop, ARefusedDailyRestartDuringAnItemLeavesEveryRowItsOwnPresenter) {
    // Refused with an error, or without a word (the process goes on).
    class RefusingPower final : public Power {
    public:
        void PowerAction(PowerMode) override { throw std::runtime_error("reboot refused"); }
    };
    class SilentPower final : public Power {
    public:
        void PowerAction(PowerMode) override {}
    };
    for (bool refusedByThrowing : {true, false}) {
        SCOPED_TRACE(refusedByThrowing ? "power call throws" : "power call returns");
        LoopRig rig;
        KeepingObserver observer;
        rig.MakeLoop(&observer);
        rig.Insert({.order_sx = 1, .f_lx = "10", .f_filename = "a.jpg", .play_time = 11});
        rig.Insert({.order_sx = 2, .f_lx = "20", .f_filename = "v.mp4", .play_time = 22});
        rig.Insert({.order_sx = 3, .f_lx = "30", .f_filename = "p.html", .play_time = 33});
        rig.Insert({.order_sx = 4, .f_lx = "10", .f_filename = "c.jpg", .play_time = 44});
        for (auto name : {"a.jpg", "v.mp4", "p.html", "c.jpg"}) rig.Cache(name);
        RefusingPower refusing;
        SilentPower silent;
        NullEventPump restartPump;
        rig.clock.Set({2024, 6, 1, 3, 0, 0});
        RestartControl restart({
            .restartOn = [] { return true; },
            .restartTime = [] { return TimeOfDay{3, 0, 0}; },
            .clock = rig.clock,
            .write = [](const std::string&, const std::string&) {},
            .database = DatabaseOf(rig.store),
            .closeAllPresenters = [&] { rig.presenters.CloseAllPresenters(); },
            .pump = restartPump,
            .power = refusedByThrowing ? static_cast<Power&>(refusing) : silent,
        });
        // The video is closed by the restart's CloseAllPresenters.
        rig.presenters.At(1, [&] { restart.Tick(); });
        rig.presenters.EndAt(1, {ItemEndCause::kStop, {}});

        rig.loop->PlayOnce();

        EXPECT_EQ(rig.presenters.closes, 1);
        EXPECT_EQ(rig.presenters.calls,
                  (Calls{Image(rig.CachePath("a.jpg"), 11), Video(rig.CachePath("v.mp4"), 22),
                         Page(rig.CachePath("p.html"), 33), Image(rig.CachePath("c.jpg"), 44)}));
        ASSERT_EQ(observer.items.size(), 4u);
        EXPECT_EQ(observer.items[1].rowId, 2);
        EXPECT_EQ(observer.items[1].kind, ItemKind::kVideo);
        EXPECT_EQ(observer.items[1].end.cause, ItemEndCause::kStop);
        EXPECT_EQ(observer.items[2].rowId, 3);
        EXPECT_EQ(rig.chrome.calls, (std::vector<bool>{false, true}));
    }
}

using Paths = std::vector<std::string>;

TEST(PlayLoopReadAhead, OnlyTheNextLocalPictureWhoseCacheFileIsThereIsPrepared) {
    struct Case {
        const char* name;
        PlaylistItem next;
        bool prepared;
    };
    const Case cases[] = {
        {"local picture", {.f_filename = "b.jpg"}, true},
        {"local picture, other case", {.f_filename = "b.PNG"}, true},
        {"cache file missing", {.f_filename = "missing.jpg"}, false},
        {"online picture", {.f_filename = "b.jpg", .online_play = "1"}, false},
        {"local video", {.f_lx = "20", .f_filename = "b.jpg"}, false},
        {"local page", {.f_lx = "30", .f_filename = "b.jpg"}, false},
        {"empty listurl (skipped at its turn)", {.listurl = "", .f_filename = "b.jpg"}, false},
        {"name outside the cache", {.f_filename = "../outside.jpg"}, false},
        {"name with a folder", {.f_filename = "sub/b.jpg"}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LoopRig rig;
        rig.connectivity.online = false;  // a missing file stays missing
        rig.Insert({.order_sx = 1, .f_filename = "a.jpg"});
        PlaylistItem next = c.next;
        next.order_sx = 2;
        rig.Insert(next);
        rig.Cache("a.jpg");
        rig.Cache("b.jpg");
        rig.Cache("b.PNG");
        // Files the unsafe names would reach if they were taken as paths.
        WriteFile(rig.folder.Path() + "outside.jpg", "picture");
        WriteFile(rig.CachePath("sub/b.jpg"), "picture");
        const std::string nextName = RowName(next);

        rig.loop->PlayOnce();

        ASSERT_FALSE(rig.presenters.calls.empty());
        // Handed over before the first item is shown, i.e. while it is on screen.
        EXPECT_EQ(rig.presenters.calls[0].preparedBefore,
                  c.prepared ? Paths{rig.CachePath(nextName)} : Paths{});
        // The last row has none after it in a single pass.
        EXPECT_EQ(rig.presenters.prepared.size(), c.prepared ? 1u : 0u);
    }
}

TEST(PlayLoopReadAhead, EachItemHandsOverThePictureAfterItAndTheCursorStays) {
    LoopRig rig;
    rig.Insert({.order_sx = 1, .f_filename = "a.jpg", .play_time = 1});
    rig.Insert({.order_sx = 2, .f_filename = "b.jpg", .play_time = 2});
    rig.Insert({.order_sx = 3, .f_lx = "20", .f_filename = "v.mp4", .play_time = 3});
    rig.Insert({.order_sx = 4, .f_filename = "c.jpg", .play_time = 4});
    for (auto name : {"a.jpg", "b.jpg", "v.mp4", "c.jpg"}) rig.Cache(name);

    rig.loop->PlayOnce();

    // Exactly what a run shows without reading ahead.
    EXPECT_EQ(rig.presenters.calls,
              (Calls{Image(rig.CachePath("a.jpg"), 1), Image(rig.CachePath("b.jpg"), 2),
                     Video(rig.CachePath("v.mp4"), 3), Image(rig.CachePath("c.jpg"), 4)}));
    ASSERT_EQ(rig.presenters.calls.size(), 4u);
    EXPECT_EQ(rig.presenters.calls[0].preparedBefore, Paths{rig.CachePath("b.jpg")});
    EXPECT_EQ(rig.presenters.calls[1].preparedBefore, Paths{});  // a video comes next
    EXPECT_EQ(rig.presenters.calls[2].preparedBefore, Paths{rig.CachePath("c.jpg")});
    EXPECT_EQ(rig.presenters.calls[3].preparedBefore, Paths{});
}

TEST(PlayLoopReadAhead, LoopPlayLooksPastTheLastRowToTheFirstAndStillPlaysWhatTheWrapSelects) {
    LoopRig rig;
    rig.Insert({.order_sx = 1, .f_filename = "first.jpg", .f_enddate = "2024-06-01 12:00:30"});
    rig.Insert({.order_sx = 2, .f_filename = "last.jpg"});
    for (auto name : {"first.jpg", "last.jpg"}) rig.Cache(name);
    // While the last row is on screen the first one's time runs out: the
    // wrap's selection no longer has it.
    rig.presenters.At(1, [&] { rig.clock.Set({2024, 6, 1, 12, 1, 0}); });
    rig.presenters.At(2, [&] { rig.Esc(); });

    rig.loop->PlayInLoop();

    EXPECT_EQ(rig.presenters.calls,
              (Calls{Image(rig.CachePath("first.jpg"), 10), Image(rig.CachePath("last.jpg"), 10),
                     Image(rig.CachePath("last.jpg"), 10)}));
    ASSERT_EQ(rig.presenters.calls.size(), 3u);
    EXPECT_EQ(rig.presenters.calls[0].preparedBefore, Paths{rig.CachePath("last.jpg")});
    EXPECT_EQ(rig.presenters.calls[1].preparedBefore, Paths{rig.CachePath("first.jpg")});
    // One row left: it is its own next.
    EXPECT_EQ(rig.presenters.calls[2].preparedBefore, Paths{rig.CachePath("last.jpg")});
}

}  // namespace
}  // namespace zorvak::test
