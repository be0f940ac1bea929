#include "playlist/media_download.h"

#include <sys/file.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tools/testserver/test_server.h"
#include "tests/support/fake_monotonic_clock.h"
#include "tests/support/fakes.h"
#include "tests/support/files.h"
#include "tests/support/temp_folder.h"

namespace zorvak::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Bytes that differ from position to position, so that a misplaced piece shows.
std::string Pattern(std::size_t length, int seed = 0) {
    std::string bytes(length, '\0');
    for (std::size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 251 + static_cast<std::size_t>(seed)) % 256);
    return bytes;
}

struct Rig {
    explicit Rig(MonotonicClock& clock = SteadyMonotonicClock::Instance(),
                 HttpLimits limits = {2000ms, 2000ms})
        : downloader(dir, connectivity, pump,
                     [this](const std::string& text) { messages.push_back(text); }, limits,
                     clock) {}

    TempFolder folder;
    FixedAppDirectory dir{folder.Path()};
    SwitchConnectivity connectivity;
    ScriptedPump pump;
    std::vector<std::string> messages;
    MediaDownloader downloader;
    TestServer server;

    std::string Cache() const { return folder.Path() + "data/"; }
    std::string CachePath(const std::string& name) const { return Cache() + name; }
    std::string Partial(const std::string& name) const { return Cache() + name + ".tmp"; }
    // Where the validator of a partial file's version is kept.
    std::string Validator(const std::string& name) const { return Partial(name) + ".validator"; }
    bool Download(const std::string& name, const std::string& path = "/m") {
        return downloader.DownloadMediaFile(name, server.Url(path));
    }
    std::vector<std::string> Methods() const {
        std::vector<std::string> methods;
        for (const Request& r : server.Requests()) methods.push_back(r.method);
        return methods;
    }
};

using Methods = std::vector<std::string>;

TEST(MediaDownload, AFreshFileIsFetchedIntoTheCacheAndRenamed) {
    Rig rig;
    const std::string body = Pattern(300000);
    rig.server.Route("/m", Response::Text(body, "image/jpeg"));

    EXPECT_TRUE(rig.Download("a.jpg"));

    EXPECT_EQ(ReadFile(rig.CachePath("a.jpg")), body);
    EXPECT_FALSE(fs::exists(rig.Partial("a.jpg")));
    EXPECT_EQ(rig.Methods(), (Methods{"HEAD", "GET"}));
    for (const Request& r : rig.server.Requests()) {
        EXPECT_EQ(r.Header("User-Agent"), "Mozilla/3.0 (compatible; Indy Library)");
        EXPECT_EQ(r.Header("Accept"), "text/html, */*");
        EXPECT_EQ(r.Header("Range"), std::nullopt);
        EXPECT_EQ(r.version, "HTTP/1.1");
    }
    EXPECT_TRUE(rig.messages.empty());
}

TEST(MediaDownload, NothingIsFetchedOfflineOrForAFileAlreadyCached) {
    {
        Rig rig;
        rig.connectivity.online = false;
        rig.server.Route("/m", Response::Text("x"));
        EXPECT_FALSE(rig.Download("a.jpg"));
        EXPECT_FALSE(fs::exists(rig.Cache()));
        EXPECT_EQ(rig.server.TotalRequests(), 0);
    }
    {
        Rig rig;
        rig.server.Route("/m", Response::Text("new"));
        WriteFile(rig.CachePath("a.jpg"), "old");
        EXPECT_FALSE(rig.Download("a.jpg"));
        EXPECT_EQ(ReadFile(rig.CachePath("a.jpg")), "old");
        EXPECT_EQ(rig.server.TotalRequests(), 0);
    }
}

TEST(MediaDownload, AFileThatAppearsDuringTheHeadRequestIsKept) {
    Rig rig;
    Response slow = Response::Text(Pattern(1000));
    slow.headerDelay = 300ms;
    rig.server.Route("/m", slow);
    rig.pump.onPump = [&](int n) {
        if (n == 1) WriteFile(rig.CachePath("a.jpg"), "from elsewhere");
    };

    EXPECT_TRUE(rig.Download("a.jpg"));

    EXPECT_EQ(ReadFile(rig.CachePath("a.jpg")), "from elsewhere");
    EXPECT_EQ(rig.Methods(), Methods{"HEAD"});
    EXPECT_FALSE(fs::exists(rig.Partial("a.jpg")));
}

TEST(MediaDownload, APartialFileThatCannotBeOpenedGivesTheMessageAndTrue) {
    struct Case {
        const char* name;
        std::function<std::function<void()>(Rig&)> block;  // returns the undo
    };
    const Case cases[] = {
        {"a folder in its place",
         [](Rig& r) {
             fs::create_directories(r.Partial("a.jpg"));
             return std::function<void()>([] {});
         }},
        {"held by another program",
         [](Rig& r) {
             WriteFile(r.Partial("a.jpg"), "abc");
             int fd = ::open(r.Partial("a.jpg").c_str(), O_RDWR);
             EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
             return std::function<void()>([fd] { ::close(fd); });
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.server.Route("/m", Response::Text(Pattern(1000)));
        auto undo = c.block(rig);

        EXPECT_TRUE(rig.Download("a.jpg"));

        EXPECT_EQ(rig.messages,
                  std::vector<std::string>{"打开文件 \"" + rig.Partial("a.jpg") + "\" 失败!"});
        EXPECT_EQ(rig.Methods(), Methods{"HEAD"});
        EXPECT_FALSE(fs::exists(rig.CachePath("a.jpg")));
        undo();
    }
}

TEST(MediaDownload, AFailedRenameLeavesTheCompleteDataInThePartialFile) {
    Rig rig;
    const std::string body = Pattern(5000);
    rig.server.Route("/m", Response::Text(body));
    fs::create_directories(rig.CachePath("a.jpg"));  // a folder under the final name

    EXPECT_TRUE(rig.Download("a.jpg"));

    EXPECT_EQ(ReadFile(rig.Partial("a.jpg")), body);
    EXPECT_TRUE(fs::is_directory(rig.CachePath("a.jpg")));

    // Once the obstacle is gone, the next call renames without fetching.
    fs::remove(rig.CachePath("a.jpg"));
    rig.server.ClearRecords();
    EXPECT_TRUE(rig.Download("a.jpg"));
    EXPECT_EQ(ReadFile(rig.CachePath("a.jpg")), body);
    EXPECT_EQ(rig.Methods(), Methods{"HEAD"});
}

TEST(MediaDownload, FailuresReachTheCallerAfterEverythingIsReleased) {
    struct Case {
        const char* name;
        std::string fileName = "a.jpg";
        std::function<void(Rig&)> arrange;
        Methods methods;
        bool partialLeft;
    };
    const std::string longName(300, 'n');
    const Case cases[] = {
        {"cache folder cannot be created", "a.jpg",
         [](Rig& r) {
             r.server.Route("/m", Response::Text("x"));
             WriteFile(r.folder.Path() + "data", "a file");
         },
         {}, false},
        {"HEAD answered 404", "a.jpg", [](Rig&) {}, {"HEAD"}, false},
        {"connection refused", "a.jpg",
         [](Rig& r) {
             r.server.Route("/m", Response::Text("x"));
             r.server.Stop();
         },
         {}, false},
        {"GET answered 500", "a.jpg",
         [](Rig& r) {
             r.server.Route("/m", [](const Request& q) {
                 return q.method == "HEAD" ? Response::Text(Pattern(100))
                                           : Response::Status(500, "oops");
             });
         },
         {"HEAD", "GET"}, true},
        {"partial file cannot be created", longName,
         [](Rig& r) { r.server.Route("/m", Response::Text("x")); }, {"HEAD"}, false},
        {"partial file cannot be written", "a.jpg",
         [](Rig& r) {
             r.server.Route("/m", Response::Text(Pattern(600000)));
             fs::create_directories(r.Cache());
             fs::create_symlink("/dev/full", r.Partial("a.jpg"));
         },
         {"HEAD", "GET"}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        c.arrange(rig);

        EXPECT_THROW(rig.Download(c.fileName), DownloadError);

        EXPECT_EQ(rig.Methods(), c.methods);
        std::error_code ec;
        EXPECT_EQ(fs::exists(fs::symlink_status(rig.Partial(c.fileName), ec)), c.partialLeft);
        EXPECT_FALSE(fs::exists(rig.CachePath(c.fileName), ec));
        EXPECT_TRUE(rig.messages.empty());
        // Released: a second call opens the partial file again instead of
        // finding it held.
        if (c.partialLeft) {
            EXPECT_THROW(rig.Download(c.fileName), DownloadError);
            EXPECT_TRUE(rig.messages.empty());
        }
    }
}

TEST(MediaDownload, APartialFileIsResumedRestartedOrRefetched) {
    const std::string body = Pattern(200000, 3);
    const std::string modified = "Tue, 01 Dec 2026 08:00:00 GMT";
    using Headers = std::vector<std::pair<std::string, std::string>>;
    struct Case {
        const char* name;
        std::string partial;
        std::optional<std::string> kept;  // the validator kept beside the partial file
        Headers validators;               // what the server announces
        bool serverRanges;
        std::optional<std::string> range;  // the Range header of the GET
        bool get;
    };
    const Headers etag = {{"ETag", "\"v1\""}};
    const Case cases[] = {
        {"resumed with 206", body.substr(0, 70000), "\"v1\"", etag, true, "bytes=70000-", true},
        {"restarted when ranges are not served", body.substr(0, 70000), "\"v1\"", etag, false,
         "bytes=70000-", true},
        {"a weak ETag: resumed by Last-Modified", body.substr(0, 70000), modified,
         {{"ETag", "W/\"v1\""}, {"Last-Modified", modified}}, true, "bytes=70000-", true},
        // Without a validator nothing tells which version the bytes belong to.
        {"no validator kept: fetched whole", body.substr(0, 70000), std::nullopt, etag, true,
         std::nullopt, true},
        {"another version since: fetched whole", Pattern(70000, 8), "\"v0\"", etag, true,
         std::nullopt, true},
        {"longer than announced: fetched again", Pattern(250000, 9), "\"v1\"", etag, true,
         std::nullopt, true},
        {"complete already: renamed", body, "\"v1\"", etag, true, std::nullopt, false},
        {"empty: fetched whole", "", std::nullopt, etag, true, std::nullopt, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        Response r = Response::Text(body);
        r.ranges = c.serverRanges;
        for (const auto& h : c.validators) r.headers.push_back(h);
        rig.server.Route("/m", r);
        WriteFile(rig.Partial("a.jpg"), c.partial);
        if (c.kept) WriteFile(rig.Validator("a.jpg"), *c.kept + "\n");

        EXPECT_TRUE(rig.Download("a.jpg"));

        EXPECT_EQ(ReadFile(rig.CachePath("a.jpg")), body);
        EXPECT_FALSE(fs::exists(rig.Partial("a.jpg")));
        EXPECT_FALSE(fs::exists(rig.Validator("a.jpg")));
        auto requests = rig.server.Requests();
        ASSERT_EQ(requests.size(), c.get ? 2u : 1u);
        if (c.get) {
            EXPECT_EQ(requests[1].Header("Range"), c.range);
            EXPECT_EQ(requests[1].Header("If-Range"), c.range ? c.kept : std::nullopt);
        }
    }
}

// A resource replaced on the server between two attempts is never completed
// from the new version: the range is asked for with If-Range, the server sends
// the whole new version, and the file holds exactly that.
TEST(MediaDownload, AResourceReplacedBetweenTwoAttemptsIsNotSpliced) {
    const std::string oldBody = Pattern(100000, 1);
    const std::string newBody = Pattern(100000, 2);
    Rig rig;
    // The first attempt breaks after 30000 bytes of the old version.
    Response first = Response::Text(oldBody);
    first.headers.emplace_back("ETag", "\"old\"");
    first.ranges = true;
    first.dropAfter = 30000;
    rig.server.Route("/m", [&](const Request& q) {
        if (q.method == "HEAD") {
            Response head = Response::Text(oldBody);
            head.headers.emplace_back("ETag", "\"old\"");
            return head;
        }
        return first;
    });
    EXPECT_THROW(rig.Download("a.jpg"), DownloadError);
    ASSERT_EQ(ReadFile(rig.Partial("a.jpg")), oldBody.substr(0, 30000));
    EXPECT_EQ(ReadFile(rig.Validator("a.jpg")), "\"old\"\n");

    // The second attempt's HEAD still sees the old version, then the file is
    // replaced before its GET.
    rig.server.ClearRecords();
    rig.server.Route("/m", [&](const Request& q) {
        Response r = Response::Text(q.method == "HEAD" ? oldBody : newBody);
        r.headers.emplace_back("ETag", q.method == "HEAD" ? "\"old\"" : "\"new\"");
        r.ranges = true;
        return r;
    });
    EXPECT_TRUE(rig.Download("a.jpg"));

    EXPECT_EQ(ReadFile(rig.CachePath("a.jpg")), newBody);
    auto requests = rig.server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].Header("Range"), "bytes=30000-");
    EXPECT_EQ(requests[1].Header("If-Range"), "\"old\"");
}

TEST(MediaDownload, RequestsCarryTheClientsHeadersRangeWhenResumingAndCookiesOfTheCallOnly) {
    Rig rig;
    const std::string body = Pattern(10000, 4);
    Response r = Response::Text(body, "image/jpeg");
    r.ranges = true;
    r.headers.emplace_back("Set-Cookie", "sid=1");
    r.headers.emplace_back("ETag", "\"e4\"");
    rig.server.Route("/m", r);
    WriteFile(rig.Partial("a.jpg"), body.substr(0, 4000));
    WriteFile(rig.Validator("a.jpg"), "\"e4\"\n");

    EXPECT_TRUE(rig.Download("a.jpg"));
    // A second call starts with no cookies of its own.
    EXPECT_TRUE(rig.Download("b.jpg"));

    EXPECT_EQ(ReadFile(rig.CachePath("a.jpg")), body);
    EXPECT_EQ(ReadFile(rig.CachePath("b.jpg")), body);
    auto request = [&](const std::string& method, const std::string& extra) {
        return method + " /m HTTP/1.1\r\n"
                        "Content-Type: text/html\r\n"
                        "Host: " + rig.server.HostPort() + "\r\n"
                        "Accept: text/html, */*\r\n"
                        "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n" + extra + "\r\n";
    };
    EXPECT_EQ(rig.server.RawRequests(),
              (std::vector<std::string>{
                  request("HEAD", ""),
                  request("GET", "Range: bytes=4000-\r\nIf-Range: \"e4\"\r\nCookie: sid=1\r\n"),
                  request("HEAD", ""),
                  request("GET", "Cookie: sid=1\r\n"),
              }));
}

TEST(MediaDownload, APartialAnswerThatDoesNotContinueThePartialFileEmptiesIt) {
    const std::string body = Pattern(20000, 6);
    struct Case {
        const char* name;
        std::optional<std::string> contentRange;  // of the 206 answer
    };
    const Case cases[] = {
        {"starts elsewhere", "bytes 0-19999/20000"},
        {"another total", "bytes 5000-19999/30000"},
        {"no Content-Range", std::nullopt},
        {"not bytes", "pages 5000-19999/20000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.server.Route("/m", [&](const Request& q) {
            if (q.method == "HEAD") {
                Response head = Response::Text(body);
                head.headers.emplace_back("ETag", "\"p\"");
                return head;
            }
            Response part = Response::Status(206, body.substr(5000));
            if (c.contentRange) part.headers.emplace_back("Content-Range", *c.contentRange);
            return part;
        });
        WriteFile(rig.Partial("a.jpg"), body.substr(0, 5000));
        WriteFile(rig.Validator("a.jpg"), "\"p\"\n");

        EXPECT_THROW(rig.Download("a.jpg"), DownloadError);

        EXPECT_EQ(ReadFile(rig.Partial("a.jpg")), "");
        EXPECT_FALSE(fs::exists(rig.Validator("a.jpg")));
        EXPECT_FALSE(fs::exists(rig.CachePath("a.jpg")));
        auto requests = rig.server.Requests();
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_EQ(requests[1].Header("Range"), "bytes=5000-");
    }
}

TEST(MediaDownload, ABrokenBodyIsAnErrorAndKeepsWhatArrivedForTheNextCall) {
    const std::string body = Pattern(100000, 5);
    struct Case {
        const char* name;
        std::function<Response()> get;
        std::size_t kept;
    };
    const Case cases[] = {
        {"shorter than announced",
         [&] { return Response::Text(body.substr(0, 40000)); }, 40000},
        {"empty", [] { return Response::Text(""); }, 0},
        {"connection dropped",
         [&] {
             Response r = Response::Text(body);
             r.dropAfter = 30000;
             return r;
         },
         30000},
        // What arrived does not belong to the announced resource: dropped.
        {"longer than announced", [&] { return Response::Text(body + "more"); }, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        auto get = c.get;
        rig.server.Route("/m", [&](const Request& q) {
            Response r = q.method == "HEAD" ? Response::Text(body) : get();
            r.headers.emplace_back("ETag", "\"b\"");
            return r;
        });

        EXPECT_THROW(rig.Download("a.jpg"), DownloadError);

        EXPECT_EQ(rig.Methods(), (Methods{"HEAD", "GET"}));
        EXPECT_FALSE(fs::exists(rig.CachePath("a.jpg")));
        EXPECT_EQ(ReadFile(rig.Partial("a.jpg")), body.substr(0, c.kept));

        // The next call, against a server that now behaves, completes the file.
        Response good = Response::Text(body);
        good.headers.emplace_back("ETag", "\"b\"");
        good.ranges = true;
        rig.server.Route("/m", good);
        rig.server.ClearRecords();
        EXPECT_TRUE(rig.Download("a.jpg"));
        EXPECT_EQ(ReadFile(rig.CachePath("a.jpg")), body);
        auto requests = rig.server.Requests();
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_EQ(requests[1].Header("Range"),
                  c.kept ? std::optional<std::string>("bytes=" + std::to_string(c.kept) + "-")
                         : std::nullopt);
    }
}

TEST(MediaDownload, WithoutAnAnnouncedLengthTheBodyRunsToTheEndOfTheConnection) {
    Rig rig;
    const std::string body = Pattern(150000, 1);
    Response r = Response::Text(body);
    r.contentLength = false;
    rig.server.Route("/m", r);
    WriteFile(rig.Partial("a.jpg"), "stale bytes of an earlier try");

    EXPECT_TRUE(rig.Download("a.jpg"));

    EXPECT_EQ(ReadFile(rig.CachePath("a.jpg")), body);
    auto requests = rig.server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].Header("Range"), std::nullopt);
}

TEST(MediaDownload, TheGetGoesToTheAddressTheHeadRequestReached) {
    Rig rig;
    const std::string body = Pattern(1000);
    rig.server.Route("/old", Response::Redirect(302, rig.server.Url("/new")));
    rig.server.Route("/new", Response::Text(body));

    EXPECT_TRUE(rig.Download("a.jpg", "/old"));

    EXPECT_EQ(ReadFile(rig.CachePath("a.jpg")), body);
    EXPECT_EQ(rig.server.RequestCount("/old"), 1);
    EXPECT_EQ(rig.server.RequestCount("/new"), 2);
}

TEST(MediaDownload, ProxySettingsOfTheEnvironmentAreNotUsed) {
    Rig rig;
    rig.server.Route("/m", Response::Text("body"));
    // A proxy that would refuse every connection.
    const char* names[] = {"http_proxy", "HTTP_PROXY", "all_proxy", "no_proxy", "NO_PROXY"};
    std::vector<std::optional<std::string>> saved;
    for (const char* n : names) {
        const char* v = std::getenv(n);
        saved.push_back(v ? std::optional<std::string>(v) : std::nullopt);
    }
    ::setenv("http_proxy", "http://127.0.0.1:1", 1);
    ::setenv("HTTP_PROXY", "http://127.0.0.1:1", 1);
    ::setenv("all_proxy", "http://127.0.0.1:1", 1);
    ::unsetenv("no_proxy");
    ::unsetenv("NO_PROXY");

    bool result = false;
    EXPECT_NO_THROW(result = rig.Download("a.jpg"));
    EXPECT_TRUE(result);

    for (std::size_t i = 0; i < saved.size(); ++i) {
        if (saved[i]) ::setenv(names[i], saved[i]->c_str(), 1);
        else ::unsetenv(names[i]);
    }
}

TEST(MediaDownload, NamesThatLeaveTheCacheAreRefused) {
    const char* refused[] = {"", ".", "..", "/etc/passwd", "../x.jpg", "sub/x.jpg",
                             "sub\\x.jpg", "C:x.jpg", "x:y", "\\\\host\\share"};
    for (const char* name : refused) {
        SCOPED_TRACE(name);
        Rig rig;
        rig.server.Route("/m", Response::Text("x"));
        EXPECT_FALSE(IsAcceptableCacheName(name));
        EXPECT_FALSE(rig.Download(name));
        EXPECT_EQ(rig.server.TotalRequests(), 0);
        EXPECT_FALSE(fs::exists(rig.Cache()));
    }
    EXPECT_FALSE(IsAcceptableCacheName(std::string("a\0b", 3)));
    for (const char* name : {"a.jpg", "..a", "a..b", "广告 1.mp4", ".hidden"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(IsAcceptableCacheName(name));
    }
    Rig rig;
    rig.server.Route("/m", Response::Text("ok"));
    EXPECT_TRUE(rig.Download("广告 1.mp4"));
    EXPECT_EQ(ReadFile(rig.CachePath("广告 1.mp4")), "ok");
}

TEST(MediaDownload, ANestedDownloadOfTheSameFileFindsThePartialFileHeld) {
    Rig rig;
    const std::string body = Pattern(8 * 4096, 2);
    Response slow = Response::Text(body);
    slow.chunkSize = 4096;
    slow.chunkDelay = 20ms;
    rig.server.Route("/m", slow);
    rig.server.Route("/other", Response::Text("other"));
    std::optional<bool> nestedSame, nestedOther;
    bool started = false;
    rig.pump.onPump = [&](int) {
        // Once the GET has begun, as a second play run would.
        if (!started && fs::exists(rig.Partial("a.jpg"))) {
            started = true;
            nestedSame = rig.Download("a.jpg");
            nestedOther = rig.Download("b.jpg", "/other");
        }
    };

    EXPECT_TRUE(rig.Download("a.jpg"));

    EXPECT_EQ(nestedSame, true);
    EXPECT_EQ(rig.messages,
              std::vector<std::string>{"打开文件 \"" + rig.Partial("a.jpg") + "\" 失败!"});
    EXPECT_EQ(nestedOther, true);
    EXPECT_EQ(ReadFile(rig.CachePath("b.jpg")), "other");
    EXPECT_EQ(ReadFile(rig.CachePath("a.jpg")), body);
    EXPECT_FALSE(fs::exists(rig.Partial("a.jpg")));
}

TEST(MediaDownload, ThePumpRunsWhileASlowBodyArrives) {
    Rig rig;
    const std::string body = Pattern(10 * 1000);
    Response slow = Response::Text(body);
    slow.chunkSize = 1000;
    slow.chunkDelay = 40ms;
    rig.server.Route("/m", slow);
    int pumpsWithPartial = 0;
    rig.pump.onPump = [&](int) {
        if (fs::exists(rig.Partial("a.jpg"))) ++pumpsWithPartial;
    };

    EXPECT_TRUE(rig.Download("a.jpg"));

    EXPECT_EQ(ReadFile(rig.CachePath("a.jpg")), body);
    // At least once for every piece that arrived.
    EXPECT_GE(pumpsWithPartial, 10);
}

// The limits on a clock the test moves: every reading is 10 s after the one
// before, so the default limits are reached in a few rounds of real waiting.
TEST(MediaDownload, TheLimitsRunOnTheInjectedClock) {
    UnansweredListener unanswered;
    ASSERT_TRUE(unanswered.Ready());
    struct Case {
        const char* name;
        bool neverConnects;  // else a server that stalls after the GET's headers
        const char* says;
        Methods methods;
        bool partialLeft;
    };
    const Case cases[] = {
        {"connection never opens", true, "no connection within 30000 ms", {}, false},
        {"GET stalls after its headers", false, "no data for 60000 ms", {"HEAD", "GET"}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeMonotonicClock clock(10s);
        Rig rig(clock, HttpLimits{});
        rig.server.Route("/m", [](const Request& q) {
            Response r = Response::Text(Pattern(1000));
            if (q.method == "GET") r.stall = Response::Stall::kAfterHeaders;
            return r;
        });
        std::string url = c.neverConnects ? unanswered.Url("/m") : rig.server.Url("/m");
        const auto start = std::chrono::steady_clock::now();
        try {
            rig.downloader.DownloadMediaFile("a.jpg", url);
            ADD_FAILURE() << "no error";
        } catch (const DownloadError& e) {
            EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
        EXPECT_EQ(rig.Methods(), c.methods);
        EXPECT_EQ(fs::exists(rig.Partial("a.jpg")), c.partialLeft);
        EXPECT_GE(rig.pump.count, 2);
    }
}

TEST(MediaDownload, TimeInsideThePumpIsNotCountedAgainstTheLimits) {
    FakeMonotonicClock clock(1s);
    Rig rig(clock, HttpLimits{30s, 30s});
    Response slow = Response::Text(Pattern(4000));
    slow.headerDelay = 250ms;  // several rounds of waiting on each request
    rig.server.Route("/m", slow);
    // Every pump runs a nested handler that takes an hour.
    rig.pump.onPump = [&](int) { clock.Advance(1h); };

    EXPECT_TRUE(rig.Download("a.jpg"));

    EXPECT_EQ(ReadFile(rig.CachePath("a.jpg")), Pattern(4000));
    EXPECT_GE(rig.pump.count, 2);
}

TEST(MediaDownload, StallLimitInRealTime) {
    Rig rig;
    rig.downloader.SetLimits({2000ms, 300ms});
    rig.server.Route("/m", [](const Request& q) {
        Response r = Response::Text(Pattern(1000));
        if (q.method == "GET") r.stall = Response::Stall::kAfterHeaders;
        return r;
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(rig.Download("a.jpg"), DownloadError);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
    EXPECT_GE(rig.pump.count, 1);
}

TEST(MediaDownload, ConnectLimitInRealTime) {
    UnansweredListener listener;
    ASSERT_TRUE(listener.Ready());
    Rig rig;
    rig.downloader.SetLimits({300ms, 2000ms});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(rig.downloader.DownloadMediaFile("a.jpg", listener.Url("/m")), DownloadError);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
    EXPECT_FALSE(fs::exists(rig.Partial("a.jpg")));
}

}  // namespace
}  // namespace zorvak::test

namespace zorvak::test {
namespace {

// A download under way when the client is told to give up (the process is
// ending) ends at once with an error; what arrived stays in the partial file
// for the next call.
TEST(MediaDownload, AnAbandonedDownloadEndsAtOnceAndKeepsWhatArrived) {
    Rig rig;
    const std::string body = Pattern(400000, 4);
    Response slow = Response::Text(body);
    slow.chunkSize = 10000;
    slow.chunkDelay = 50ms;  // two seconds for the whole body
    slow.ranges = true;
    slow.headers.emplace_back("ETag", "\"s\"");
    rig.server.Route("/m", slow);
    bool giveUp = false;
    rig.downloader.SetAbandonWhen([&] { return giveUp; });
    rig.pump.onPump = [&](int n) {
        if (n == 5) giveUp = true;  // a few pieces in
    };

    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(rig.Download("a.jpg"), DownloadError);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
    const std::string kept = ReadFile(rig.Partial("a.jpg")).value_or("");
    EXPECT_GT(kept.size(), 0u);
    EXPECT_LT(kept.size(), body.size());
    EXPECT_EQ(kept, body.substr(0, kept.size()));
    EXPECT_FALSE(fs::exists(rig.CachePath("a.jpg")));

    // The next call resumes it.
    giveUp = false;
    rig.pump.onPump = nullptr;
    rig.server.ClearRecords();
    EXPECT_TRUE(rig.Download("a.jpg"));
    EXPECT_EQ(ReadFile(rig.CachePath("a.jpg")), body);
    EXPECT_EQ(rig.server.Requests().at(1).Header("Range"),
              "bytes=" + std::to_string(kept.size()) + "-");
}

}  // namespace
}  // namespace zorvak::test
