// The media prefetch: downloads on the Qt event loop against a loopback
// server, into a real cache folder, from the valid items of a real store.
#include "playlist/media_prefetch.h"

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <QTimer>

#include <gtest/gtest.h>

#include "core/clock.h"
#include "playlist/mkstore/store_schema.h"
#include "playlist/store.h"
#include "tests/support/fake_monotonic_clock.h"
#include "tests/support/fakes.h"
#include "tests/support/files.h"
#include "tests/support/playlist_items.h"
#include "tests/support/qt_core_loop.h"
#include "tests/support/temp_folder.h"
#include "tools/testserver/test_server.h"

namespace zorvak::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string Pattern(std::size_t length, int seed) {
    std::string bytes(length, '\0');
    for (std::size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<char>((i * 13 + i / 509 + static_cast<std::size_t>(seed)) % 256);
    return bytes;
}

// A slowly served body: pieces of 2,000 bytes, delay apart.
Response Slow(const std::string& body, std::chrono::milliseconds delay) {
    Response r = Response::Text(body, "video/mp4");
    r.chunkSize = 2000;
    r.chunkDelay = delay;
    return r;
}

// A prefetch against a loopback server, on the machine's steady clock unless
// given another.
struct PrefetchRig {
    explicit PrefetchRig(HttpLimits limits = HttpLimits{3000ms, 3000ms},
                         MonotonicClock& clock = SteadyMonotonicClock::Instance())
        : prefetch(dir, connectivity, limits, clock) {
        QtCoreApp();
        prefetch.SetFinishedListener([this](const std::string& name, const DownloadResult& r) {
            finished.emplace_back(name, r.kind);
        });
    }

    TempFolder folder;
    FixedAppDirectory dir{folder.Path()};
    SwitchConnectivity connectivity;
    MediaPrefetch prefetch;
    TestServer server;
    std::vector<std::pair<std::string, DownloadResult::Kind>> finished;

    std::string CachePath(const std::string& name) const { return folder.Path() + "data/" + name; }
    MediaItem Item(const std::string& name, const std::string& path) const {
        return MediaItem{name, server.Url(path)};
    }
    bool ServeUntilFinished(std::size_t count, std::chrono::milliseconds limit = 15s) {
        return ServeQtUntil([&] { return finished.size() >= count; }, limit);
    }
};

// After an import, the missing media of the valid local items arrive in play
// order, each with one HEAD and one GET; a file already cached, an online item
// and an item not valid now are not asked for.
TEST(MediaPrefetch, CompletesTheMissingFilesOfTheValidLocalItemsAfterAnImport) {
    PrefetchRig rig;
    std::map<std::string, std::string> bodies = {
        {"/v.mp4", Pattern(700'000, 1)}, {"/p.jpg", Pattern(90'000, 2)},
        {"/w.html", "<html>page</html>"}, {"/had.jpg", Pattern(10, 3)},
        {"/live.jpg", Pattern(10, 4)},    {"/later.jpg", Pattern(10, 5)}};
    for (const auto& [path, body] : bodies) rig.server.Route(path, Response::Text(body));
    WriteFile(rig.CachePath("had.jpg"), "already here");

    SettableClock clock({2024, 6, 1, 12, 0, 0});
    ASSERT_EQ(CreateEmptyStore(rig.folder.Path() + PlaylistStore::kFileName), "");
    PlaylistStore store(rig.dir, clock);
    store.ConnectDatabase();
    auto item = [&](int order, const char* type, const char* name, int online = 0,
                    const char* start = "2024-01-01 00:00:00") {
        PlaylistItem i{.order_sx = order, .f_lx = type, .listurl = rig.server.Url(std::string("/") + name),
                       .f_filename = name, .online_play = online, .f_startdate = start};
        return i.Xml();
    };
    const std::string document =
        Document(item(4, "10", "p.jpg") + item(1, "20", "v.mp4") + item(2, "10", "had.jpg") +
                 item(3, "10", "live.jpg", 1) + item(5, "30", "w.html") +
                 item(6, "10", "later.jpg", 0, "2025-01-01 00:00:00"));
    ASSERT_TRUE(store.ImportPlaylist(document));

    rig.prefetch.Schedule(store.ValidLocalMedia());
    ASSERT_TRUE(rig.ServeUntilFinished(3));
    rig.ServeUntilFinished(4, 300ms);  // nothing more comes

    using K = DownloadResult::Kind;
    EXPECT_EQ(rig.finished, (std::vector<std::pair<std::string, K>>{
                                {"v.mp4", K::kDone}, {"p.jpg", K::kDone}, {"w.html", K::kDone}}));
    EXPECT_EQ(ReadFile(rig.CachePath("v.mp4")), bodies["/v.mp4"]);
    EXPECT_EQ(ReadFile(rig.CachePath("p.jpg")), bodies["/p.jpg"]);
    EXPECT_EQ(ReadFile(rig.CachePath("w.html")), bodies["/w.html"]);
    EXPECT_EQ(ReadFile(rig.CachePath("had.jpg")), "already here");
    EXPECT_FALSE(fs::exists(rig.CachePath("v.mp4.tmp")));
    for (const char* path : {"/v.mp4", "/p.jpg", "/w.html"}) EXPECT_EQ(rig.server.RequestCount(path), 2) << path;
    for (const char* path : {"/had.jpg", "/live.jpg", "/later.jpg"})
        EXPECT_EQ(rig.server.RequestCount(path), 0) << path;
    EXPECT_EQ(rig.prefetch.Current(), "");
    EXPECT_EQ(rig.prefetch.Waiting(), 0u);
}

// The run reaching the file being fetched waits for that transfer: no second
// HEAD or GET, the wait ends with the file whole, and the queue goes on.
TEST(MediaPrefetch, AWaitForTheFileBeingFetchedJoinsThatTransfer) {
    PrefetchRig rig;
    const std::string big = Pattern(60'000, 7);
    rig.server.Route("/big.mp4", Slow(big, 10ms));  // about 300 ms
    rig.server.Route("/next.jpg", Response::Text("next"));
    rig.prefetch.Schedule({rig.Item("big.mp4", "/big.mp4"), rig.Item("next.jpg", "/next.jpg")});
    ASSERT_TRUE(ServeQtUntil([&] { return fs::exists(rig.CachePath("big.mp4.tmp")); }, 5s));
    ASSERT_EQ(rig.prefetch.Current(), "big.mp4");

    int asked = 0;
    const DownloadResult r =
        rig.prefetch.FetchNow("big.mp4", rig.server.Url("/big.mp4"), [&] { ++asked; return false; });

    EXPECT_EQ(r.kind, DownloadResult::Kind::kDone) << r.error;
    EXPECT_EQ(ReadFile(rig.CachePath("big.mp4")), big);
    EXPECT_EQ(rig.server.RequestCount("/big.mp4"), 2);  // the one HEAD and GET
    EXPECT_GE(asked, 1);
    ASSERT_TRUE(rig.ServeUntilFinished(2));
    EXPECT_EQ(ReadFile(rig.CachePath("next.jpg")), "next");
}

// The run needing a file still waiting in the queue puts it first: it is
// fetched right after the transfer under way, before the files queued ahead
// of it.
TEST(MediaPrefetch, AWaitForAQueuedFileFetchesItNext) {
    PrefetchRig rig;
    rig.server.Route("/a.mp4", Slow(Pattern(40'000, 1), 10ms));
    for (const char* path : {"/b.jpg", "/c.jpg", "/d.jpg"}) rig.server.Route(path, Response::Text(path));
    rig.prefetch.Schedule({rig.Item("a.mp4", "/a.mp4"), rig.Item("b.jpg", "/b.jpg"),
                           rig.Item("c.jpg", "/c.jpg"), rig.Item("d.jpg", "/d.jpg")});
    ASSERT_TRUE(ServeQtUntil([&] { return rig.prefetch.Current() == "a.mp4"; }, 5s));

    const DownloadResult r = rig.prefetch.FetchNow("d.jpg", rig.server.Url("/d.jpg"), {});

    EXPECT_EQ(r.kind, DownloadResult::Kind::kDone);
    EXPECT_EQ(ReadFile(rig.CachePath("d.jpg")), "/d.jpg");
    ASSERT_TRUE(rig.ServeUntilFinished(4));
    std::vector<std::string> order;
    for (const auto& f : rig.finished) order.push_back(f.first);
    EXPECT_EQ(order, (std::vector<std::string>{"a.mp4", "d.jpg", "b.jpg", "c.jpg"}));
    EXPECT_EQ(rig.server.RequestCount("/d.jpg"), 2);
}

// A new queue made while a run waits for a queued file (an import served
// inside the wait) keeps that file ahead: the wait ends with it.
TEST(MediaPrefetch, ANewQueueKeepsTheFileARunWaitsFor) {
    PrefetchRig rig;
    rig.server.Route("/a.mp4", Slow(Pattern(40'000, 1), 10ms));
    rig.server.Route("/w.jpg", Response::Text("w"));
    rig.server.Route("/n.jpg", Response::Text("n"));
    rig.prefetch.Schedule({rig.Item("a.mp4", "/a.mp4")});
    ASSERT_TRUE(ServeQtUntil([&] { return rig.prefetch.Current() == "a.mp4"; }, 5s));
    QTimer::singleShot(30, QCoreApplication::instance(),
                       [&] { rig.prefetch.Schedule({rig.Item("n.jpg", "/n.jpg")}); });

    // A file dropped from the queue would leave the wait to its deadline.
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    const DownloadResult r = rig.prefetch.FetchNow(
        "w.jpg", rig.server.Url("/w.jpg"), [&] { return std::chrono::steady_clock::now() > deadline; });

    EXPECT_EQ(r.kind, DownloadResult::Kind::kDone);
    EXPECT_EQ(ReadFile(rig.CachePath("w.jpg")), "w");
    ASSERT_TRUE(rig.ServeUntilFinished(3));
    std::vector<std::string> order;
    for (const auto& f : rig.finished) order.push_back(f.first);
    EXPECT_EQ(order, (std::vector<std::string>{"a.mp4", "w.jpg", "n.jpg"}));
}

// Failing downloads (an error status, a dropped connection, a body shorter
// than announced) end with their error and the files after them still come;
// what arrived of the dropped one stays in its partial file.
TEST(MediaPrefetch, AFailingDownloadDoesNotStopTheRest) {
    PrefetchRig rig;
    rig.server.Route("/gone.jpg", Response::Status(404));
    Response dropped = Response::Text(Pattern(50'000, 3));
    dropped.dropAfter = 20'000;
    rig.server.Route("/dropped.mp4", dropped);
    rig.server.Route("/fine.jpg", Response::Text("fine"));
    rig.prefetch.Schedule({rig.Item("gone.jpg", "/gone.jpg"), rig.Item("dropped.mp4", "/dropped.mp4"),
                           MediaItem{"refused.jpg", "http://127.0.0.1:9/refused.jpg"},
                           rig.Item("fine.jpg", "/fine.jpg")});

    ASSERT_TRUE(rig.ServeUntilFinished(4));

    using K = DownloadResult::Kind;
    EXPECT_EQ(rig.finished, (std::vector<std::pair<std::string, K>>{{"gone.jpg", K::kFailed},
                                                                    {"dropped.mp4", K::kFailed},
                                                                    {"refused.jpg", K::kFailed},
                                                                    {"fine.jpg", K::kDone}}));
    EXPECT_EQ(ReadFile(rig.CachePath("fine.jpg")), "fine");
    EXPECT_FALSE(fs::exists(rig.CachePath("gone.jpg")));
    EXPECT_FALSE(fs::exists(rig.CachePath("dropped.mp4")));
    EXPECT_EQ(fs::file_size(rig.CachePath("dropped.mp4.tmp")), 20'000u);
}

// A new queue made while a file is downloading leaves that file out: nothing
// waits for it, and when its transfer fails it is not asked for again until
// the next Schedule() (one HEAD and one GET in all).
TEST(MediaPrefetch, TheFileUnderTransferIsNotQueuedAgain) {
    PrefetchRig rig;
    Response dropped = Slow(Pattern(40'000, 6), 10ms);
    dropped.dropAfter = 20'000;  // about 100 ms of body, then the connection drops
    rig.server.Route("/t.mp4", dropped);
    rig.prefetch.Schedule({rig.Item("t.mp4", "/t.mp4")});
    ASSERT_TRUE(ServeQtUntil([&] { return rig.prefetch.Current() == "t.mp4"; }, 5s));

    rig.prefetch.Schedule({rig.Item("t.mp4", "/t.mp4")});

    EXPECT_EQ(rig.prefetch.Waiting(), 0u);
    ASSERT_TRUE(rig.ServeUntilFinished(1));
    EXPECT_EQ(rig.finished[0].second, DownloadResult::Kind::kFailed);
    rig.ServeUntilFinished(2, 300ms);  // nothing more comes
    EXPECT_EQ(rig.finished.size(), 1u);
    EXPECT_EQ(rig.server.RequestCount("/t.mp4"), 2);
    EXPECT_EQ(rig.prefetch.Current(), "");
}

// Names that would leave the cache, or that the OS cannot keep, are never
// requested, neither from the queue nor by a waiting run.
TEST(MediaPrefetch, UnsafeNamesAreNeverFetched) {
    PrefetchRig rig;
    int requests = 0;
    rig.server.SetFallback([&](const Request&) {
        ++requests;
        return Response::Text("x");
    });
    const std::vector<std::string> unsafe = {"", ".", "..", "../up.jpg", "sub/a.jpg",
                                             "a\\b.jpg", "c:x.jpg", std::string("n\0.jpg", 6)};
    std::vector<MediaItem> items;
    for (const std::string& name : unsafe) items.push_back(MediaItem{name, rig.server.Url("/x")});
    items.push_back(rig.Item("ok.jpg", "/ok"));

    rig.prefetch.Schedule(items);
    ASSERT_TRUE(rig.ServeUntilFinished(1));
    for (const std::string& name : unsafe) {
        const DownloadResult r = rig.prefetch.FetchNow(name, rig.server.Url("/x"), {});
        EXPECT_EQ(r.kind, DownloadResult::Kind::kNothing) << name;
    }
    rig.ServeUntilFinished(2, 300ms);

    EXPECT_EQ(rig.finished.size(), 1u);
    EXPECT_EQ(rig.server.RequestCount("/ok"), 2);
    EXPECT_EQ(rig.server.TotalRequests(), 2);
    EXPECT_FALSE(fs::exists(rig.folder.Path() + "up.jpg"));
}

// The prefetch keeps the cache's rules: a partial file with the validator of
// its version is resumed with Range and If-Range and completed, not fetched
// again from the start.
TEST(MediaPrefetch, APartialFileIsResumedWithItsValidator) {
    PrefetchRig rig;
    const std::string body = Pattern(80'000, 9);
    Response resumable = Response::Text(body, "video/mp4");
    resumable.ranges = true;
    resumable.headers.emplace_back("ETag", "\"v7\"");
    rig.server.Route("/r.mp4", resumable);
    WriteFile(rig.CachePath("r.mp4.tmp"), body.substr(0, 30'000));
    WriteFile(rig.CachePath("r.mp4.tmp.validator"), "\"v7\"\n");

    rig.prefetch.Schedule({rig.Item("r.mp4", "/r.mp4")});
    ASSERT_TRUE(rig.ServeUntilFinished(1));

    EXPECT_EQ(ReadFile(rig.CachePath("r.mp4")), body);
    const std::vector<Request> requests = rig.server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].Header("Range"), "bytes=30000-");
    EXPECT_EQ(requests[1].Header("If-Range"), "\"v7\"");
    EXPECT_FALSE(fs::exists(rig.CachePath("r.mp4.tmp.validator")));
}

// When the process ends (the abandon test answers true) the transfer under
// way stops at once with what arrived kept in its partial file, and nothing
// after it is requested.
TEST(MediaPrefetch, QuitAbandonsTheTransferAndStopsTheQueue) {
    PrefetchRig rig;
    bool quitting = false;
    rig.prefetch.SetAbandonWhen([&] { return quitting; });
    rig.server.Route("/long.mp4", Slow(Pattern(400'000, 4), 20ms));  // four seconds
    rig.server.Route("/after.jpg", Response::Text("after"));
    rig.prefetch.Schedule({rig.Item("long.mp4", "/long.mp4"), rig.Item("after.jpg", "/after.jpg")});
    ASSERT_TRUE(ServeQtUntil(
        [&] {
            std::error_code ec;
            return fs::file_size(rig.CachePath("long.mp4.tmp"), ec) >= 10'000 && !ec;
        },
        5s));

    quitting = true;
    const auto asked = std::chrono::steady_clock::now();
    ASSERT_TRUE(rig.ServeUntilFinished(1, 2s));
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 1s);
    rig.ServeUntilFinished(2, 300ms);

    ASSERT_EQ(rig.finished.size(), 1u);
    EXPECT_EQ(rig.finished[0].second, DownloadResult::Kind::kFailed);
    EXPECT_FALSE(fs::exists(rig.CachePath("long.mp4")));
    const auto kept = fs::file_size(rig.CachePath("long.mp4.tmp"));
    EXPECT_GE(kept, 10'000u);
    EXPECT_LT(kept, 400'000u);
    EXPECT_EQ(rig.server.RequestCount("/after.jpg"), 0);
}

// A wait that the caller gives up (Esc, stop) returns at once; the transfer
// goes on and completes the file.
TEST(MediaPrefetch, AWaitGivenUpLeavesTheTransferGoing) {
    PrefetchRig rig;
    const std::string body = Pattern(60'000, 5);
    rig.server.Route("/v.mp4", Slow(body, 10ms));
    rig.prefetch.Schedule({rig.Item("v.mp4", "/v.mp4")});
    ASSERT_TRUE(ServeQtUntil([&] { return rig.prefetch.Current() == "v.mp4"; }, 5s));

    bool stop = false;
    QTimer::singleShot(50, QCoreApplication::instance(), [&] { stop = true; });
    const DownloadResult r =
        rig.prefetch.FetchNow("v.mp4", rig.server.Url("/v.mp4"), [&] { return stop; });

    EXPECT_EQ(r.kind, DownloadResult::Kind::kGaveUp);
    EXPECT_FALSE(fs::exists(rig.CachePath("v.mp4")));
    ASSERT_TRUE(rig.ServeUntilFinished(1));
    EXPECT_EQ(ReadFile(rig.CachePath("v.mp4")), body);
    EXPECT_EQ(rig.server.RequestCount("/v.mp4"), 2);
}

// The clock, built before the prefetch that reads it.
struct TestClockFirst {
    explicit TestClockFirst(MonotonicClock::duration stepPerRead) : clock(stepPerRead) {}
    FakeMonotonicClock clock;
};
// A prefetch whose time limits run on a clock the test moves (each reading
// stepPerRead after the one before); no stall or low-speed limit ends a
// transfer on it.
struct ClockedPrefetchRig : TestClockFirst, PrefetchRig {
    explicit ClockedPrefetchRig(MonotonicClock::duration stepPerRead = {})
        : TestClockFirst(stepPerRead),
          PrefetchRig(HttpLimits{std::chrono::hours(100), std::chrono::hours(100), 0}, clock) {}
};

// A file whose download failed is not asked for again before its delay (1 s,
// then 2 s, 4 s ... after each failure in a row), neither by a new queue nor
// by a run, and a run does not wait for it: it hears why at once. Once the
// server answers, the next attempt brings the file.
TEST(MediaPrefetch, AFailedFileIsTriedAgainOnlyAfterItsDelayAndARunDoesNotWaitForIt) {
    ClockedPrefetchRig rig;
    rig.server.Route("/gone.jpg", Response::Status(404));
    const MediaItem gone{"gone.jpg", rig.server.Url("/gone.jpg")};
    auto attempts = [&] { return rig.finished.size(); };
    int asked = 0;
    auto giveUp = [&] { return ++asked > 30; };

    rig.prefetch.Schedule({gone});
    ASSERT_TRUE(ServeQtUntil([&] { return attempts() == 1; }, 5s));
    EXPECT_EQ(rig.prefetch.Failures("gone.jpg"), 1);

    // A run reaching it now: no request, no wait, the reason.
    DownloadResult r = rig.prefetch.FetchNow(gone.fileName, gone.url, giveUp);
    EXPECT_EQ(r.kind, DownloadResult::Kind::kGaveUp);
    EXPECT_NE(r.error.find("download failed 1 time"), std::string::npos) << r.error;
    EXPECT_NE(r.error.find("next try in 1 s"), std::string::npos) << r.error;
    EXPECT_EQ(asked, 0);
    EXPECT_THROW(rig.prefetch.DownloadForRun(gone.fileName, gone.url, giveUp, {}), MediaNotReady);
    // A new queue leaves it out until its time.
    rig.prefetch.Schedule({gone});
    ServeQtFor(200ms);
    EXPECT_EQ(attempts(), 1u);

    rig.clock.Advance(1s);
    rig.prefetch.Schedule({gone});
    ASSERT_TRUE(ServeQtUntil([&] { return attempts() == 2; }, 5s));
    rig.clock.Advance(1s);  // the second failure waits 2 s
    rig.prefetch.Schedule({gone});
    ServeQtFor(200ms);
    EXPECT_EQ(attempts(), 2u);
    rig.clock.Advance(1s);
    // The run's turn starts the retry that is due, without waiting for it.
    r = rig.prefetch.FetchNow(gone.fileName, gone.url, giveUp);
    EXPECT_EQ(r.kind, DownloadResult::Kind::kGaveUp);
    EXPECT_NE(r.error.find("download failed 2 times"), std::string::npos) << r.error;
    EXPECT_EQ(asked, 0);
    ASSERT_TRUE(ServeQtUntil([&] { return attempts() == 3; }, 5s));
    EXPECT_EQ(rig.prefetch.Failures("gone.jpg"), 3);
    EXPECT_EQ(rig.server.RequestCount("/gone.jpg"), 3);  // one HEAD each

    rig.server.Route("/gone.jpg", Response::Text("back", "image/jpeg"));
    rig.clock.Advance(3s);  // the third failure waits 4 s
    rig.prefetch.Schedule({gone});
    ServeQtFor(200ms);
    EXPECT_EQ(attempts(), 3u);
    rig.clock.Advance(1s);
    rig.prefetch.Schedule({gone});
    ASSERT_TRUE(ServeQtUntil([&] { return attempts() == 4; }, 5s));
    EXPECT_EQ(rig.finished.back().second, DownloadResult::Kind::kDone);
    EXPECT_EQ(ReadFile(rig.dir.Path() + "data/gone.jpg"), "back");
    EXPECT_EQ(rig.prefetch.Failures("gone.jpg"), 0);
    EXPECT_EQ(rig.prefetch.FetchNow(gone.fileName, gone.url, giveUp).kind,
              DownloadResult::Kind::kDone);
}

// A server that takes the request and never answers: the run waits for the
// file at most kRunWaitLimit in all, then hears why; a later turn does not
// wait again while that download goes on. The download is not dropped.
TEST(MediaPrefetch, ARunWaitsForAFileTenSecondsInAllThenNoLonger) {
    // Each reading of the clock moves it by half a second.
    ClockedPrefetchRig rig(500ms);
    Response silent = Response::Text("never");
    silent.stall = Response::Stall::kBeforeHeaders;
    rig.server.Route("/stall.mp4", silent);
    const MediaItem stalled{"stall.mp4", rig.server.Url("/stall.mp4")};
    rig.prefetch.Schedule({stalled});
    ASSERT_TRUE(ServeQtUntil([&] { return rig.server.RequestCount("/stall.mp4") == 1; }, 5s));
    int asked = 0;
    // Gives up after three seconds of asking, should the limit not end the wait.
    auto giveUp = [&] { return ++asked > 30; };

    DownloadResult r = rig.prefetch.FetchNow(stalled.fileName, stalled.url, giveUp);
    EXPECT_EQ(r.kind, DownloadResult::Kind::kGaveUp);
    EXPECT_NE(r.error.find("not complete after 10 s"), std::string::npos) << r.error;
    EXPECT_LE(asked, 20);

    asked = 0;
    r = rig.prefetch.FetchNow(stalled.fileName, stalled.url, giveUp);
    EXPECT_NE(r.error.find("not complete after 10 s"), std::string::npos) << r.error;
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(rig.prefetch.Current(), "stall.mp4");
    EXPECT_TRUE(rig.finished.empty());
    EXPECT_EQ(rig.server.RequestCount("/stall.mp4"), 1);
}

}  // namespace
}  // namespace zorvak::test
