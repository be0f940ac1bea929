// Proof of play: the loop tells its observer of every item it hands to a
// presenter, and the recorder keeps it in a real playlog.db in the test's
// application folder.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "play_loop_fakes.h"
#include "playback/play_recorder.h"
#include "playlist/play_log.h"

namespace zorvak::test {
namespace {

TEST(PlayRecord, EachItemShownIsRecordedWithItsRowTimesAndEnd) {
    LoopRig rig;
    PlayLog log(rig.dir, rig.clock);
    ASSERT_TRUE(log.Open());
    PlayRecorder recorder(log);
    rig.MakeLoop(&recorder);
    rig.Insert({.order_sx = 1, .f_lx = "10", .f_filename = "a.jpg", .playname = "早餐"});
    rig.Insert({.order_sx = 2, .f_lx = "20", .f_filename = "b.mp4", .playname = "clip"});
    rig.Insert({.order_sx = 3, .f_lx = "30", .listurl = "http://h/p.html", .f_filename = "p.html",
                .online_play = "1", .playname = "page"});
    rig.Cache("a.jpg");
    rig.Cache("b.mp4");
    // Each item is on screen for a while of the clock.
    rig.presenters.At(0, [&] { rig.clock.Set({2024, 6, 1, 12, 0, 10}); });
    rig.presenters.At(1, [&] { rig.clock.Set({2024, 6, 1, 12, 0, 25}); });
    rig.presenters.EndAt(1, {ItemEndCause::kKey, {}});
    rig.presenters.At(2, [&] { rig.clock.Set({2024, 6, 1, 12, 1, 0}); });
    rig.presenters.EndAt(2, {ItemEndCause::kNotShown, "offline"});

    rig.loop->PlayOnce();

    PlayLogReading reading = ReadPlayLog(rig.dir.Path() + PlayLog::kFileName, std::nullopt);
    ASSERT_TRUE(reading.ok) << reading.error;
    ASSERT_EQ(reading.plays.size(), 3u);
    const PlayRecord& a = reading.plays[0].second;
    EXPECT_EQ(a.started.ToSortableText(), "2024-06-01 12:00:00");
    EXPECT_EQ(a.ended.ToSortableText(), "2024-06-01 12:00:10");
    EXPECT_EQ(a.rowId, 1);
    EXPECT_EQ(a.playname, "早餐");
    EXPECT_EQ(a.fileName, "a.jpg");
    EXPECT_EQ(a.type, "10");
    EXPECT_EQ(a.endedBy, "time up");
    EXPECT_EQ(a.error, "");
    const PlayRecord& b = reading.plays[1].second;
    EXPECT_EQ(b.started.ToSortableText(), "2024-06-01 12:00:10");
    EXPECT_EQ(b.ended.ToSortableText(), "2024-06-01 12:00:25");
    EXPECT_EQ(b.rowId, 2);
    EXPECT_EQ(b.type, "20");
    EXPECT_EQ(b.endedBy, "key");
    const PlayRecord& c = reading.plays[2].second;
    EXPECT_EQ(c.rowId, 3);
    EXPECT_EQ(c.fileName, "p.html");
    EXPECT_EQ(c.type, "30");
    EXPECT_EQ(c.endedBy, "not shown");
    EXPECT_EQ(c.error, "offline");
}

TEST(PlayRecord, TheEndThePresenterReportsIsPassedOnAndAnErrorCarriesItsText) {
    struct Case {
        ItemEnd end;
        bool throws;
        ItemEndCause cause;
        std::string detail;
    };
    const std::vector<Case> cases = {
        {{ItemEndCause::kTimeUp, {}}, false, ItemEndCause::kTimeUp, ""},
        {{ItemEndCause::kEscape, {}}, false, ItemEndCause::kEscape, ""},
        {{ItemEndCause::kStop, {}}, false, ItemEndCause::kStop, ""},
        {{ItemEndCause::kError, "bad file"}, false, ItemEndCause::kError, "bad file"},
        // The presenter throws: an error with the exception's text, and the
        // loop's guard still skips the row.
        {{ItemEndCause::kTimeUp, {}}, true, ItemEndCause::kError, "presenter failed"},
    };
    for (const Case& c : cases) {
        LoopRig rig;
        KeepingObserver observer;
        rig.MakeLoop(&observer);
        rig.Insert({.order_sx = 1, .f_filename = "a.jpg", .playname = "one"});
        rig.Insert({.order_sx = 2, .f_filename = "b.jpg", .playname = "two"});
        rig.Cache("a.jpg");
        rig.Cache("b.jpg");
        rig.presenters.EndAt(0, c.end);
        if (c.throws) rig.presenters.ThrowAt(0);
        rig.loop->PlayOnce();
        ASSERT_EQ(observer.items.size(), 2u);
        EXPECT_EQ(observer.items[0].end.cause, c.cause) << ItemEndCauseName(c.cause);
        EXPECT_EQ(observer.items[0].end.detail, c.detail);
        EXPECT_EQ(observer.items[0].playname, "one");
        EXPECT_EQ(observer.items[0].location, rig.CachePath("a.jpg"));
        EXPECT_EQ(observer.items[1].playname, "two");
        EXPECT_EQ(observer.items[1].end.cause, ItemEndCause::kTimeUp);
    }
}

TEST(PlayRecord, SkippedRowsAreNotRecorded) {
    LoopRig rig;
    KeepingObserver observer;
    rig.MakeLoop(&observer);
    rig.Insert({.order_sx = 1, .f_filename = "../escape.jpg"});  // refused name
    rig.Insert({.order_sx = 2, .listurl = ""});                   // no address
    rig.Insert({.order_sx = 3, .f_filename = "c.jpg", .playname = "shown"});
    rig.Cache("c.jpg");
    rig.loop->PlayOnce();
    ASSERT_EQ(observer.items.size(), 1u);
    EXPECT_EQ(observer.items[0].playname, "shown");
    EXPECT_EQ(observer.items[0].rowId, 3);
}

// A row that cannot be shown while the others are (offline, its file not in
// the cache) is recorded as not shown with its reason once per period (1 s
// doubling to 60 s), not at every pass; each record says how many times it
// was not shown since the one before.
TEST(PlayRecord, ARowNotShownAtEveryPassIsRecordedOncePerPeriodWithItsCount) {
    LoopRig rig;
    KeepingObserver observer;
    rig.MakeLoop(&observer);
    rig.connectivity.online = false;
    rig.Insert({.order_sx = 1, .f_filename = "a.jpg", .playname = "shown"});
    rig.Insert({.order_sx = 2, .f_filename = "b.jpg", .playname = "missing"});
    rig.Cache("a.jpg");
    // Each showing of a.jpg takes a second; Esc after 300 passes.
    int passes = 0;
    rig.presenters.onEveryShow = [&] {
        rig.monotonic.Advance(std::chrono::seconds(1));
        if (++passes == 300) rig.Esc();
    };

    rig.loop->PlayInLoop();

    ASSERT_EQ(rig.presenters.calls.size(), 300u);
    std::vector<PlayedItem> missing;
    for (const PlayedItem& item : observer.items)
        if (item.playname == "missing") missing.push_back(item);
    EXPECT_EQ(observer.items.size() - missing.size(), 300u);
    // At 1, 2, 4, 8, 16, 32, 64, 124, 184, 244 s: ten records for 299 passes.
    ASSERT_EQ(missing.size(), 10u);
    int told = 0;
    for (std::size_t i = 0; i < missing.size(); ++i) {
        const PlayedItem& item = missing[i];
        EXPECT_EQ(item.end.cause, ItemEndCause::kNotShown);
        EXPECT_EQ(item.rowId, 2);
        EXPECT_EQ(item.fileName, "b.jpg");
        EXPECT_EQ(item.end.detail.rfind("offline", 0), 0u) << item.end.detail;
        const std::size_t at = item.end.detail.find("(not shown ");
        if (i == 0 || i == 1) {
            EXPECT_EQ(at, std::string::npos) << item.end.detail;
            ++told;
        } else {
            ASSERT_NE(at, std::string::npos) << item.end.detail;
            told += std::stoi(item.end.detail.substr(at + 11));
        }
    }
    // Every pass that did not show it is accounted for, except those since
    // the last record.
    EXPECT_EQ(told, 244);
}

}  // namespace
}  // namespace zorvak::test
