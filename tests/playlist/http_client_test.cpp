#include "playlist/http_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "playlist/http_target.h"
#include "tests/support/fake_monotonic_clock.h"
#include "tests/support/fakes.h"
#include "tests/support/qt_core_loop.h"
#include "tools/testserver/test_server.h"

namespace zorvak {
namespace {

using namespace std::chrono_literals;
using test::Request;
using test::ScriptedPump;
using test::Response;
using test::TestServer;

// The agent a new client names (spelt out here, not taken from the client).
const std::string kIndyUserAgent = "Mozilla/3.0 (compatible; Indy Library)";

// A GET of url that follows redirects.
HttpRequest Following(const std::string& url) {
    HttpRequest request;
    request.url = url;
    request.followRedirects = true;
    return request;
}

HttpRequest HeadOf(const std::string& url) {
    HttpRequest request;
    request.url = url;
    request.method = HttpRequest::Method::kHead;
    return request;
}

std::string ExpectedRequest(const std::string& target, const std::string& host,
                            const std::string& userAgent, const std::string& cookie = "",
                            const std::string& method = "GET", const std::string& extra = "") {
    std::string s = method + " " + target + " HTTP/1.1\r\n"
                    "Content-Type: text/html\r\n"
                    "Host: " + host + "\r\n"
                    "Accept: text/html, */*\r\n"
                    "User-Agent: " + userAgent + "\r\n" + extra;
    if (!cookie.empty()) s += "Cookie: " + cookie + "\r\n";
    return s + "\r\n";
}

class HttpClientTest : public ::testing::Test {
protected:
    TestServer server;
    ScriptedPump pump;
    HttpClient client{pump};
};

TEST_F(HttpClientTest, RequestGoesOnTheWireExactlyWithTheClientsHeaders) {
    server.Route("/getplaylist.php", Response::Text("doc"));
    // GBK bytes, "%", "+" and "&" go out as given.
    std::string target = "/getplaylist.php?hostname=\xD6\xD0\xCE\xC4%41+&x=1";
    HttpResponse r = client.Get(server.Url(target));
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.body, "doc");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.requests, 1);
    ASSERT_EQ(server.RawRequests().size(), 1u);
    EXPECT_EQ(server.RawRequests()[0],
              ExpectedRequest(target, server.HostPort(), kIndyUserAgent));

    // Dot segments stay as written; HEAD carries the same headers.
    server.Route("/a/../b", Response::Text("x"));
    EXPECT_TRUE(client.Get(server.Url("/a/../b")).ok());
    HttpResponse head = client.Send(HeadOf(server.Url("/getplaylist.php")));
    EXPECT_TRUE(head.ok());
    EXPECT_EQ(head.body, "");
    EXPECT_EQ(head.contentLength, 3);
    auto raw = server.RawRequests();
    ASSERT_EQ(raw.size(), 3u);
    EXPECT_EQ(raw[1], ExpectedRequest("/a/../b", server.HostPort(), kIndyUserAgent));
    EXPECT_EQ(raw[2], ExpectedRequest("/getplaylist.php", server.HostPort(),
                                      kIndyUserAgent, "", "HEAD"));
}

TEST(HostHeader, PortOnlyWhenNotTheDefault) {
    struct {
        const char* url;
        std::optional<std::string> host;
    } cases[] = {
        {"http://playlist.example.cn/getplaylist.php?hostname=a", "playlist.example.cn"},
        {"http://playlist.example.cn:80/x", "playlist.example.cn"},
        {"http://playlist.example.cn:8080/x", "playlist.example.cn:8080"},
        {"https://secure.example.cn/x", "secure.example.cn"},
        {"https://secure.example.cn:80/x", "secure.example.cn:80"},
        {"http://127.0.0.1:5000/", "127.0.0.1:5000"},
        {"ftp://example.cn/x", std::nullopt},
        {"http://bad host/x", std::nullopt},
        {"no scheme", std::nullopt},
    };
    for (const auto& c : cases) {
        std::optional<HttpTarget> target = ParseHttpTarget(c.url);
        EXPECT_EQ(target ? std::optional<std::string>(target->hostHeader) : std::nullopt, c.host)
            << c.url;
    }
}

TEST_F(HttpClientTest, CookiesAreKeptAndSentBackAsTheLastHeader) {
    Response login = Response::Text("in");
    login.headers.emplace_back("Set-Cookie", "sid=abc; Path=/");
    login.headers.emplace_back("Set-Cookie", "deep=1; Path=/app; HttpOnly");
    login.headers.emplace_back("Set-Cookie", "gone=1; Max-Age=0");
    login.headers.emplace_back("Set-Cookie", "tls=1; Path=/; Secure");
    server.Route("/login", login);
    server.Route("/app/page", Response::Text("page"));
    server.Route("/other", Response::Text("other"));
    Response logout = Response::Text("out");
    logout.headers.emplace_back("Set-Cookie", "sid=; Path=/; Expires=Thu, 01 Jan 1970 00:00:00 GMT");
    server.Route("/logout", logout);

    ASSERT_TRUE(client.Get(server.Url("/other")).ok());
    ASSERT_TRUE(client.Get(server.Url("/login")).ok());
    ASSERT_TRUE(client.Get(server.Url("/app/page?x=1")).ok());
    ASSERT_TRUE(client.Get(server.Url("/other")).ok());
    ASSERT_TRUE(client.Get(server.Url("/logout")).ok());
    ASSERT_TRUE(client.Get(server.Url("/app/page")).ok());
    auto raw = server.RawRequests();
    ASSERT_EQ(raw.size(), 6u);
    const std::string ua = kIndyUserAgent;
    const std::string host = server.HostPort();
    EXPECT_EQ(raw[0], ExpectedRequest("/other", host, ua));
    EXPECT_EQ(raw[1], ExpectedRequest("/login", host, ua));
    EXPECT_EQ(raw[2], ExpectedRequest("/app/page?x=1", host, ua, "deep=1; sid=abc"));
    EXPECT_EQ(raw[3], ExpectedRequest("/other", host, ua, "sid=abc"));
    EXPECT_EQ(raw[4], ExpectedRequest("/logout", host, ua, "sid=abc"));
    EXPECT_EQ(raw[5], ExpectedRequest("/app/page", host, ua, "deep=1"));
}

struct RedirectCase {
    const char* name;
    int hops;         // redirects before the document
    int status;       // status of each redirect
    bool relative;    // Location relative or absolute
    bool ok;
    int requests;
};

TEST_F(HttpClientTest, RedirectChainsFollowedUpToFourteen) {
    const RedirectCase cases[] = {
        {"one 302 relative", 1, 302, true, true, 2},
        {"one 301 absolute", 1, 301, false, true, 2},
        {"303", 1, 303, true, true, 2},
        {"307", 1, 307, false, true, 2},
        {"308", 1, 308, true, true, 2},
        {"300", 1, 300, true, true, 2},
        {"a 200 with Location", 1, 200, true, true, 2},
        {"fourteen", 14, 302, true, true, 15},
        {"fifteen", 15, 302, false, false, 15},
    };
    for (const auto& c : cases) {
        server.ClearRecords();
        std::string prefix = "/" + std::to_string(c.status) + "-" + std::to_string(c.hops) +
                             (c.relative ? "r" : "a");
        for (int i = 0; i < c.hops; ++i) {
            std::string next = prefix + "/hop" + std::to_string(i + 1);
            if (i + 1 == c.hops) next = prefix + "/doc";
            // Relative locations are given relative to the hop's own folder.
            std::string location = c.relative ? next.substr(prefix.size() + 1) : server.Url(next);
            Response r = Response::Redirect(c.status, location);
            r.body = "redirect body";
            server.Route(prefix + "/hop" + std::to_string(i), r);
        }
        server.Route(prefix + "/doc", Response::Text("document"));
        HttpResponse r = client.Send(Following(server.Url(prefix + "/hop0")));
        EXPECT_EQ(r.ok(), c.ok) << c.name << ": " << r.error;
        EXPECT_EQ(r.requests, c.requests) << c.name;
        EXPECT_EQ(server.TotalRequests(), c.requests) << c.name;
        if (c.ok) {
            EXPECT_EQ(r.body, "document") << c.name;
            EXPECT_EQ(r.finalUrl, server.Url(prefix + "/doc")) << c.name;
        } else {
            EXPECT_EQ(r.failure, HttpFailure::kTooManyRedirects) << c.name;
            EXPECT_EQ(r.body, "") << c.name;
        }
        // Every hop carries the same headers.
        for (const auto& req : server.Requests())
            EXPECT_EQ(req.raw, ExpectedRequest(req.target, server.HostPort(),
                                               kIndyUserAgent))
                << c.name;
    }
}

TEST_F(HttpClientTest, StatusesOtherThan2xxFail) {
    struct {
        const char* name;
        Response response;
        bool follow;
        HttpFailure failure;
        std::string body;
    } cases[] = {
        {"200", Response::Text("ok"), false, HttpFailure::kNone, "ok"},
        {"204", Response::Status(204), false, HttpFailure::kNone, ""},
        {"206", Response::Status(206, "part"), false, HttpFailure::kNone, "part"},
        {"304", Response::Status(304), true, HttpFailure::kStatus, ""},
        {"304 with Location", Response::Redirect(304, "/doc"), true, HttpFailure::kStatus, ""},
        {"404", Response::Status(404, "missing"), true, HttpFailure::kStatus, ""},
        {"500", Response::Status(500, "error"), true, HttpFailure::kStatus, ""},
        {"302 without Location", Response::Status(302, "x"), true, HttpFailure::kStatus, ""},
        {"302, redirects off", Response::Redirect(302, "/doc"), false,
         HttpFailure::kRedirectRefused, ""},
        {"200 with Location, redirects off", Response::Redirect(200, "/doc"), false,
         HttpFailure::kNone, ""},
        {"404 with Location", Response::Redirect(404, "/doc"), true, HttpFailure::kNone, "document"},
    };
    server.Route("/doc", Response::Text("document"));
    for (auto& c : cases) {
        server.Route("/case", c.response);
        HttpRequest request;
        request.url = server.Url("/case");
        request.followRedirects = c.follow;
        HttpResponse r = client.Send(request);
        EXPECT_EQ(r.failure, c.failure) << c.name << ": " << r.error;
        EXPECT_EQ(r.body, c.body) << c.name;
    }
}

TEST_F(HttpClientTest, InterimContinueIsSkipped) {
    Response r = Response::Text("after continue");
    r.interimContinue = true;
    r.headers.emplace_back("Set-Cookie", "k=v");
    server.Route("/c", r);
    HttpResponse got = client.Get(server.Url("/c"));
    ASSERT_TRUE(got.ok()) << got.error;
    EXPECT_EQ(got.body, "after continue");
    EXPECT_EQ(got.status, 200);
    // The cookie of the answer after the 100 is kept.
    ASSERT_TRUE(client.Get(server.Url("/c")).ok());
    EXPECT_EQ(server.RawRequests().back(),
              ExpectedRequest("/c", server.HostPort(), kIndyUserAgent, "k=v"));
}

TEST_F(HttpClientTest, CookiesOfARedirectAreSentOnTheFollowedRequest) {
    Response hop = Response::Redirect(302, "/doc");
    hop.headers.emplace_back("Set-Cookie", "hop=1");
    server.Route("/start", hop);
    server.Route("/doc", Response::Text("d"));
    ASSERT_TRUE(client.Send(Following(server.Url("/start"))).ok());
    auto raw = server.RawRequests();
    ASSERT_EQ(raw.size(), 2u);
    EXPECT_EQ(raw[1], ExpectedRequest("/doc", server.HostPort(), kIndyUserAgent, "hop=1"));
}

TEST_F(HttpClientTest, PumpRunsWhileWaitingAndASecondRequestFailsAtOnce) {
    Response slow = Response::Text("slow answer");
    slow.headerDelay = 700ms;
    server.Route("/slow", slow);
    server.Route("/quick", Response::Text("q"));
    std::vector<HttpResponse> nested;
    pump.onPump = [&](int) {
        if (nested.empty()) {
            EXPECT_TRUE(client.IsBusy());
            nested.push_back(client.Get(server.Url("/quick")));
            nested.push_back(client.Send(HeadOf(server.Url("/quick"))));
        }
    };
    HttpResponse r = client.Get(server.Url("/slow"));
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.body, "slow answer");
    ASSERT_EQ(nested.size(), 2u);
    for (const auto& n : nested) EXPECT_EQ(n.failure, HttpFailure::kBusy);
    EXPECT_EQ(server.RequestCount("/quick"), 0);
    // The pump is called every kPumpInterval; the bound is loose on purpose.
    EXPECT_GE(pump.count, 3);
    EXPECT_LT(pump.longestGap, 1s);
    EXPECT_FALSE(client.IsBusy());
    pump.onPump = nullptr;
    EXPECT_TRUE(client.Get(server.Url("/quick")).ok());
}

// The limits on a clock the test moves: every reading is 10 s after the one
// before, so each round of waiting counts 10 s however fast the machine runs,
// and the default-sized limits are reached after a few real rounds.
TEST(HttpClientLimits, WaitingIsMeasuredOnTheInjectedClock) {
    TestServer server;
    Response before;
    before.stall = Response::Stall::kBeforeHeaders;
    Response after = Response::Text("never sent");
    after.stall = Response::Stall::kAfterHeaders;
    server.Route("/before", before);
    server.Route("/after", after);
    test::UnansweredListener unanswered;
    ASSERT_TRUE(unanswered.Ready());
    struct {
        const char* name;
        std::string url;
        std::chrono::milliseconds connect;
        std::chrono::milliseconds stall;
        HttpFailure failure;
        const char* error;
        int pumps;  // -1: not pinned (the rounds before the connection opens vary)
    } cases[] = {
        // Three rounds of 10 s reach 30 s; the pump runs between them.
        {"connection never opens", unanswered.Url("/x"), 30s, 1h, HttpFailure::kConnect,
         "no connection within 30000 ms", 2},
        {"silent before the headers", server.Url("/before"), 1h, 60s, HttpFailure::kStalled,
         "no data for 60000 ms", -1},
        {"silent after the headers", server.Url("/after"), 1h, 60s, HttpFailure::kStalled,
         "no data for 60000 ms", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPump pump;
        test::FakeMonotonicClock clock(10s);
        HttpClient client(pump, clock);
        client.SetLimits({c.connect, c.stall});
        const auto start = std::chrono::steady_clock::now();
        HttpResponse r = client.Get(c.url);
        EXPECT_EQ(r.failure, c.failure) << r.error;
        EXPECT_EQ(r.error, c.error);
        if (c.pumps >= 0) {
            EXPECT_EQ(pump.count, c.pumps);
        }
        // A handful of rounds of at most kPumpInterval each, not a minute.
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
        EXPECT_FALSE(client.IsBusy());
    }
}

TEST(HttpClientLimits, TimeInsideThePumpDoesNotCountAgainstTheLimits) {
    TestServer server;
    Response late = Response::Text("late");
    late.headerDelay = 250ms;  // several rounds of waiting, each followed by a pump
    server.Route("/late", late);
    ScriptedPump pump;
    test::FakeMonotonicClock clock(1s);
    HttpClient client(pump, clock);
    client.SetLimits({30s, 30s});
    // A nested handler that keeps the pump for an hour.
    pump.onPump = [&](int) { clock.Advance(1h); };
    HttpResponse r = client.Get(server.Url("/late"));
    EXPECT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.body, "late");
    EXPECT_GE(pump.count, 1);
}

TEST_F(HttpClientTest, ConnectLimitInRealTime) {
    client.SetLimits({300ms, HttpLimits{}.stall});
    test::UnansweredListener unanswered;
    ASSERT_TRUE(unanswered.Ready());
    const auto start = std::chrono::steady_clock::now();
    HttpResponse r = client.Get(unanswered.Url("/x"));
    EXPECT_EQ(r.failure, HttpFailure::kConnect) << r.error;
    EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
    EXPECT_GT(pump.count, 0);
}

TEST_F(HttpClientTest, StallLimitInRealTime) {
    client.SetLimits({HttpLimits{}.connect, 300ms});
    Response after = Response::Text("never sent");
    after.stall = Response::Stall::kAfterHeaders;
    Response trickle = Response::Text("0123456789");
    trickle.chunkSize = 1;
    trickle.chunkDelay = 80ms;  // 800 ms in all, never 300 ms without data
    server.Route("/after", after);
    server.Route("/trickle", trickle);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(client.Get(server.Url("/after")).failure, HttpFailure::kStalled);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
    HttpResponse slow = client.Get(server.Url("/trickle"));
    EXPECT_TRUE(slow.ok()) << slow.error;
    EXPECT_EQ(slow.body, "0123456789");
}

TEST_F(HttpClientTest, LargeBodiesStreamToASink) {
    const std::uint64_t size = 20'000'000;
    Response big;
    big.generatedSize = size;
    big.generator = [](std::uint64_t offset, char* out, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<char>((offset + i) % 251);
        return true;
    };
    server.Route("/big", big);
    std::uint64_t received = 0;
    bool inOrder = true;
    HttpRequest whole{.url = server.Url("/big")};
    whole.sink = [&](std::string_view piece) {
        for (char ch : piece)
            inOrder = inOrder && static_cast<unsigned char>(ch) == (received++ % 251);
        return true;
    };
    HttpResponse r = client.Send(whole);
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(received, size);
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(r.body, "");
    EXPECT_EQ(r.contentLength, static_cast<std::int64_t>(size));

    std::uint64_t taken = 0;
    HttpRequest part{.url = server.Url("/big")};
    part.sink = [&](std::string_view piece) {
        taken += piece.size();
        return taken < 100'000;
    };
    HttpResponse refused = client.Send(part);
    EXPECT_EQ(refused.failure, HttpFailure::kAborted);
    HttpRequest again{.url = server.Url("/big")};
    again.sink = [](std::string_view) { return true; };
    EXPECT_TRUE(client.Send(again).ok());
}

TEST_F(HttpClientTest, ExtraHeadersGoAfterUserAgentAndBeforeCookieOnEveryHop) {
    Response hop = Response::Redirect(302, "/doc");
    hop.headers.emplace_back("Set-Cookie", "sid=1");
    server.Route("/start", hop);
    server.Route("/doc", Response::Text("0123456789", "image/jpeg"));
    HttpRequest request = Following(server.Url("/start"));
    request.headers = {{"Range", "bytes=4-"}, {"X-Empty", ""}};
    HttpResponse r = client.Send(request);
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.body, "0123456789");  // the server serves no ranges here
    const std::string extra = "Range: bytes=4-\r\nX-Empty:\r\n";
    auto raw = server.RawRequests();
    ASSERT_EQ(raw.size(), 2u);
    EXPECT_EQ(raw[0], ExpectedRequest("/start", server.HostPort(), kIndyUserAgent,
                                      "", "GET", extra));
    EXPECT_EQ(raw[1], ExpectedRequest("/doc", server.HostPort(), kIndyUserAgent,
                                      "sid=1", "GET", extra));

    request.method = HttpRequest::Method::kHead;
    request.url = server.Url("/doc");
    ASSERT_TRUE(client.Send(request).ok());
    EXPECT_EQ(server.RawRequests().back(),
              ExpectedRequest("/doc", server.HostPort(), kIndyUserAgent, "sid=1",
                              "HEAD", extra));
}

TEST_F(HttpClientTest, ExtraHeadersThatCannotBeSentFailTheCallBeforeAnythingIsSent) {
    server.Route("/doc", Response::Text("d"));
    const HttpHeader refused[] = {
        {"", "x"},
        {"Bad Name", "x"},
        {"Bad:Name", "x"},
        {"Caf\xC3\xA9", "x"},
        {"X-Split", "a\r\nInjected: 1"},
        {"X-Line", "a\nb"},
        {"X-Nul", std::string("a\0b", 3)},
        {"host", "elsewhere"},
        {"Content-Type", "text/plain"},
        {"ACCEPT", "*/*"},
        {"User-Agent", "other"},
        {"Cookie", "a=1"},
    };
    for (const HttpHeader& header : refused) {
        SCOPED_TRACE(header.name + ": " + header.value);
        HttpRequest request;
        request.url = server.Url("/doc");
        request.headers = {{"Range", "bytes=0-"}, header};
        HttpResponse r = client.Send(request);
        EXPECT_EQ(r.failure, HttpFailure::kBadRequest);
        EXPECT_EQ(r.requests, 0);
        EXPECT_FALSE(client.IsBusy());
    }
    EXPECT_EQ(server.TotalRequests(), 0);
}

TEST_F(HttpClientTest, TheAnswerCallbackSeesTheFinalAnswerBeforeItsBody) {
    Response hop = Response::Redirect(302, "/doc");
    hop.headers.emplace_back("ETag", "\"hop\"");
    server.Route("/start", hop);
    Response doc = Response::Text("document");
    doc.interimContinue = true;
    doc.headers.emplace_back("ETag", "\"v1\"");
    doc.headers.emplace_back("Last-Modified", "Tue, 01 Oct 2024 10:00:00 GMT");
    server.Route("/doc", doc);
    // A folded header line is joined to the one before.
    server.Route("/folded", [](const Request&) {
        Response r;
        r.raw = "HTTP/1.1 200 OK\r\nX-Long: first\r\n  second\r\nContent-Length: 2\r\n"
                "Connection: close\r\n\r\nok";
        return r;
    });
    struct {
        const char* name;
        std::string path;
        HttpRequest::Method method;
        std::vector<std::string> events;
        std::string header;  // name of a header to read
        std::optional<std::string> value;
    } cases[] = {
        {"GET after a redirect and a 100", "/start", HttpRequest::Method::kGet,
         {"answer 200 /doc", "body"}, "etag", "\"v1\""},
        {"HEAD", "/doc", HttpRequest::Method::kHead, {"answer 200 /doc"}, "Last-Modified",
         "Tue, 01 Oct 2024 10:00:00 GMT"},
        {"folded header", "/folded", HttpRequest::Method::kGet, {"answer 200 /folded", "body"},
         "x-long", "first second"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> events;
        std::optional<std::string> seen;
        HttpRequest request = Following(server.Url(c.path));
        request.method = c.method;
        request.onAnswer = [&](const HttpAnswer& answer) {
            events.push_back("answer " + std::to_string(answer.status) + " " +
                             answer.url.substr(server.Url("").size()));
            seen = answer.Header(c.header);
            return true;
        };
        request.sink = [&](std::string_view) {
            if (events.empty() || events.back() != "body") events.push_back("body");
            return true;
        };
        HttpResponse r = client.Send(request);
        ASSERT_TRUE(r.ok()) << r.error;
        EXPECT_EQ(events, c.events);
        EXPECT_EQ(seen, c.value);
        EXPECT_EQ(r.Header(c.header), c.value);
        EXPECT_EQ(r.finalUrl, server.Url(c.path == "/start" ? "/doc" : c.path));
    }
}

TEST_F(HttpClientTest, TheAnswerCallbackMayRefuseTheAnswerAndIsNotAskedAboutFailures) {
    Response doc = Response::Text("document");
    doc.headers.emplace_back("Content-Range", "bytes 0-7/8");
    server.Route("/doc", doc);
    Response missing = Response::Status(404, "missing");
    missing.headers.emplace_back("X-Reason", "gone");
    server.Route("/missing", missing);
    int answers = 0;
    std::string body;
    HttpRequest request;
    request.onAnswer = [&](const HttpAnswer& answer) {
        ++answers;
        return answer.Header("Content-Range") != "bytes 0-7/8";
    };
    request.sink = [&](std::string_view piece) {
        body += piece;
        return true;
    };

    request.url = server.Url("/doc");
    HttpResponse refused = client.Send(request);
    EXPECT_EQ(refused.failure, HttpFailure::kAborted);
    EXPECT_EQ(refused.status, 200);
    EXPECT_EQ(answers, 1);
    EXPECT_EQ(body, "");

    request.url = server.Url("/missing");
    HttpResponse failed = client.Send(request);
    EXPECT_EQ(failed.failure, HttpFailure::kStatus);
    EXPECT_EQ(failed.status, 404);
    EXPECT_EQ(failed.Header("X-Reason"), "gone");
    EXPECT_EQ(answers, 1);
    EXPECT_EQ(body, "");

    request.url = server.Url("/doc");
    request.onAnswer = [](const HttpAnswer&) -> bool { throw std::runtime_error("judged"); };
    EXPECT_THROW(client.Send(request), std::runtime_error);
    EXPECT_EQ(body, "");
    EXPECT_FALSE(client.IsBusy());
    EXPECT_TRUE(client.Get(server.Url("/doc")).ok());
}

TEST_F(HttpClientTest, AnErrorInsideTheBodySinkReachesTheCallerAndLeavesTheClientUsable) {
    server.Route("/doc", Response::Text("document"));
    HttpRequest request{.url = server.Url("/doc")};
    request.sink = [](std::string_view) -> bool { throw std::runtime_error("full"); };
    EXPECT_THROW(client.Send(request), std::runtime_error);
    EXPECT_FALSE(client.IsBusy());
    HttpResponse next = client.Get(server.Url("/doc"));
    EXPECT_TRUE(next.ok()) << next.error;
    EXPECT_EQ(next.body, "document");
}

}  // namespace
}  // namespace zorvak

namespace zorvak {
namespace {

// A client told to give up (the process is ending) abandons the request under
// way at its next turn of the pump, keeping nothing waiting on the network,
// and sends nothing more until told otherwise.
TEST_F(HttpClientTest, ARequestIsAbandonedOnceTheClientIsToldToGiveUp) {
    Response slow = Response::Text(std::string(200000, 'x'));
    slow.chunkSize = 1000;
    slow.chunkDelay = 50ms;  // the whole body would take ten seconds
    server.Route("/slow", slow);
    bool giveUp = false;
    client.SetAbandonWhen([&] { return giveUp; });
    pump.onPump = [&](int n) {
        if (n == 3) giveUp = true;
    };
    const auto start = std::chrono::steady_clock::now();
    HttpResponse r = client.Get(server.Url("/slow"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_EQ(r.failure, HttpFailure::kAbandoned);
    EXPECT_EQ(pump.count, 3);
    EXPECT_FALSE(client.IsBusy());

    // While it holds, nothing goes out at all.
    server.ClearRecords();
    EXPECT_EQ(client.Get(server.Url("/slow")).failure, HttpFailure::kAbandoned);
    EXPECT_EQ(server.TotalRequests(), 0);
    giveUp = false;
    server.Route("/small", Response::Text("ok"));
    EXPECT_TRUE(client.Get(server.Url("/small")).ok());
}

// Requests started with Start(): the same engine and rules as Send(), driven
// by the Qt event loop.

// What done received, and whether it has run.
struct Answered {
    std::optional<HttpResponse> response;
    HttpDone Done() {
        return [this](HttpResponse r) { response = std::move(r); };
    }
    bool Arrived() const { return response.has_value(); }
};

// request through Send() or, with eventLoop, through Start() with the Qt
// event loop served until done ran.
HttpResponse SendThrough(bool eventLoop, HttpClient& client, const HttpRequest& request) {
    if (!eventLoop) return client.Send(request);
    Answered answered;
    client.Start(request, answered.Done());
    if (!test::ServeQtUntil([&] { return answered.Arrived(); }, 10s)) {
        ADD_FAILURE() << "no answer from the event loop";
        return {};
    }
    return std::move(*answered.response);
}

TEST(HttpClientStart, GoesOutAsSendDoesAcrossRedirectsCookiesAndExtraHeaders) {
    test::QtCoreApp();
    TestServer server;
    Response first = Response::Redirect(302, "/next?b=2");
    first.headers.emplace_back("Set-Cookie", "sid=abc; Path=/");
    server.Route("/first", first);
    Response next;
    next.generatedSize = 3'000'000;  // several pieces into the sink
    next.generator = [](std::uint64_t offset, char* out, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<char>('a' + (offset + i) % 26);
        return true;
    };
    next.headers.emplace_back("ETag", "\"v1\"");
    server.Route("/next", next);

    HttpRequest request = Following(server.Url("/first?a=1"));
    request.headers = {{"X-Probe", "1"}};
    std::vector<int> statusesSeen;
    std::string body;
    request.onAnswer = [&](const HttpAnswer& a) {
        statusesSeen.push_back(a.status);
        return true;
    };
    request.sink = [&](std::string_view piece) {
        body.append(piece);
        return true;
    };

    ScriptedPump pump;
    HttpClient waiting(pump);
    HttpResponse sent = waiting.Send(request);
    ASSERT_TRUE(sent.ok()) << sent.error;
    const std::vector<std::string> sentRaw = server.RawRequests();
    const std::string sentBody = std::move(body);
    body.clear();
    server.ClearRecords();

    HttpClient started(pump);
    const int pumpsBefore = pump.count;
    Answered answered;
    started.Start(request, answered.Done());
    EXPECT_FALSE(answered.Arrived());
    EXPECT_TRUE(started.IsBusy());
    ASSERT_TRUE(test::ServeQtUntil([&] { return answered.Arrived(); }, 10s));
    const HttpResponse& got = *answered.response;

    ASSERT_TRUE(got.ok()) << got.error;
    EXPECT_EQ(got.status, sent.status);
    EXPECT_EQ(got.finalUrl, sent.finalUrl);
    EXPECT_EQ(got.finalUrl, server.Url("/next?b=2"));
    EXPECT_EQ(got.requests, 2);
    EXPECT_EQ(got.contentLength, sent.contentLength);
    EXPECT_EQ(got.Header("ETag"), "\"v1\"");
    EXPECT_EQ(body.size(), 3'000'000u);
    EXPECT_EQ(body, sentBody);
    EXPECT_EQ(statusesSeen, (std::vector<int>{200, 200}));  // the final answer only, once each
    EXPECT_EQ(server.RawRequests(), sentRaw);
    ASSERT_EQ(sentRaw.size(), 2u);
    EXPECT_EQ(sentRaw[1], ExpectedRequest("/next?b=2", server.HostPort(), kIndyUserAgent,
                                          "sid=abc", "GET", "X-Probe: 1\r\n"));
    EXPECT_EQ(pump.count, pumpsBefore);  // the loop served the request, no pump
    EXPECT_FALSE(started.IsBusy());
}

TEST(HttpClientStart, AnswersOnlyFromTheEventLoopAndOneRequestAtATime) {
    test::QtCoreApp();
    TestServer server;
    Response slow = Response::Text(std::string(4000, 's'));
    slow.chunkSize = 1000;
    slow.chunkDelay = 40ms;
    server.Route("/slow", slow);
    ScriptedPump pump;
    HttpClient client(pump);

    // Refused before anything goes out: still answered from the loop.
    Answered bad;
    client.Start(HttpRequest{.url = "ftp://127.0.0.1/x"}, bad.Done());
    EXPECT_FALSE(bad.Arrived());
    EXPECT_TRUE(client.IsBusy());  // until its answer is delivered
    ASSERT_TRUE(test::ServeQtUntil([&] { return bad.Arrived(); }, 2s));
    EXPECT_EQ(bad.response->failure, HttpFailure::kBadUrl);
    EXPECT_FALSE(client.IsBusy());

    Answered first, second;
    client.Start(HttpRequest{.url = server.Url("/slow")}, first.Done());
    client.Start(HttpRequest{.url = server.Url("/slow")}, second.Done());
    EXPECT_EQ(client.Get(server.Url("/slow")).failure, HttpFailure::kBusy);
    ASSERT_TRUE(test::ServeQtUntil([&] { return first.Arrived() && second.Arrived(); }, 10s));
    EXPECT_EQ(second.response->failure, HttpFailure::kBusy);
    ASSERT_TRUE(first.response->ok()) << first.response->error;
    EXPECT_EQ(first.response->body, std::string(4000, 's'));
    EXPECT_EQ(server.RequestCount("/slow"), 1);
    EXPECT_EQ(pump.count, 0);  // the loop served the request, no pump
}

TEST(HttpClientStart, LimitsOnTheInjectedClockAndTheAbandonTest) {
    test::QtCoreApp();
    TestServer server;
    Response stalled = Response::Text("never");
    stalled.stall = Response::Stall::kAfterHeaders;
    server.Route("/stalled", stalled);
    Response slow = Response::Text(std::string(200000, 'x'));
    slow.chunkSize = 1000;
    slow.chunkDelay = 50ms;  // ten seconds for the whole body
    server.Route("/slow", slow);
    ScriptedPump pump;
    test::FakeMonotonicClock clock;
    HttpClient client(pump, clock);
    client.SetLimits({5000ms, 5000ms});

    Answered stall;
    client.Start(HttpRequest{.url = server.Url("/stalled")}, stall.Done());
    ASSERT_TRUE(test::ServeQtUntil([&] { return server.TotalRequests() == 1; }, 5s));
    test::ServeQtFor(300ms);  // real time passes; the fake clock does not
    EXPECT_FALSE(stall.Arrived());
    clock.Advance(5001ms);
    ASSERT_TRUE(test::ServeQtUntil([&] { return stall.Arrived(); }, 2s));
    EXPECT_EQ(stall.response->failure, HttpFailure::kStalled);
    EXPECT_EQ(stall.response->status, 200);

    bool giveUp = false;
    client.SetAbandonWhen([&] { return giveUp; });
    Answered abandoned;
    std::string arrived;
    HttpRequest get{.url = server.Url("/slow")};
    get.sink = [&](std::string_view piece) {
        arrived.append(piece);
        return true;
    };
    client.Start(get, abandoned.Done());
    ASSERT_TRUE(test::ServeQtUntil([&] { return arrived.size() >= 2000; }, 5s));
    giveUp = true;
    const auto asked = std::chrono::steady_clock::now();
    ASSERT_TRUE(test::ServeQtUntil([&] { return abandoned.Arrived(); }, 2s));
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 1s);
    EXPECT_EQ(abandoned.response->failure, HttpFailure::kAbandoned);
    EXPECT_LT(arrived.size(), 200000u);

    // While it holds, nothing goes out.
    server.ClearRecords();
    Answered refused;
    client.Start(HttpRequest{.url = server.Url("/slow")}, refused.Done());
    ASSERT_TRUE(test::ServeQtUntil([&] { return refused.Arrived(); }, 2s));
    EXPECT_EQ(refused.response->failure, HttpFailure::kAbandoned);
    EXPECT_EQ(server.TotalRequests(), 0);
}

TEST(HttpClientStart, CancelTakesTheRequestOffTheWireAndDoneNeverRuns) {
    test::QtCoreApp();
    TestServer server;
    Response slow = Response::Text(std::string(200000, 'x'));
    slow.chunkSize = 1000;
    slow.chunkDelay = 20ms;
    server.Route("/slow", slow);
    server.Route("/small", Response::Text("ok"));
    ScriptedPump pump;
    auto client = std::make_unique<HttpClient>(pump);
    Answered cancelled;
    std::size_t arrived = 0;
    HttpRequest get{.url = server.Url("/slow")};
    get.sink = [&](std::string_view piece) {
        arrived += piece.size();
        return true;
    };
    client->Start(get, cancelled.Done());
    ASSERT_TRUE(test::ServeQtUntil([&] { return arrived > 0; }, 5s));
    client->Cancel();
    EXPECT_FALSE(client->IsBusy());
    const std::size_t atCancel = arrived;
    test::ServeQtFor(300ms);
    EXPECT_FALSE(cancelled.Arrived());
    EXPECT_EQ(arrived, atCancel);  // nothing more reaches the sink
    EXPECT_TRUE(client->Get(server.Url("/small")).ok());

    // A client destroyed with a request under way: nothing runs afterwards.
    Answered dropped;
    client->Start(HttpRequest{.url = server.Url("/slow")}, dropped.Done());
    test::ServeQtFor(100ms);
    client.reset();
    test::ServeQtFor(300ms);
    EXPECT_FALSE(dropped.Arrived());
}

// A piece of data sets the time waited back to nothing, in either driver, so
// a body whose pieces keep arriving never stalls, however long it takes in
// all. For Start() the pieces come further apart than kPumpInterval, so the
// limits are checked between them.
TEST(HttpClientLimits, APieceOfDataSetsTheTimeWaitedBackToNothingInBothDrivers) {
    test::QtCoreApp();
    TestServer server;
    Response quick = Response::Text("0123456789");
    quick.chunkSize = 1;
    quick.chunkDelay = 5ms;
    server.Route("/trickle", quick);
    Response spaced = Response::Text("012345");
    spaced.chunkSize = 1;
    spaced.chunkDelay = 150ms;
    server.Route("/spaced", spaced);
    struct {
        const char* name;
        bool eventLoop;
        std::string path;
        std::string body;
    } cases[] = {
        {"Send", false, "/trickle", "0123456789"},
        {"Start", true, "/spaced", "012345"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPump pump;
        test::FakeMonotonicClock clock;
        HttpClient client(pump, clock);
        client.SetLimits({30s, 30s, 0});  // no low-speed limit: a byte in 45 s is a trickle
        std::string received;
        HttpRequest request{.url = server.Url(c.path)};
        // Each piece takes "45 s" to arrive, longer than the limit, yet it is data.
        request.sink = [&](std::string_view piece) {
            clock.Advance(45s);
            received += piece;
            return true;
        };
        HttpResponse r = SendThrough(c.eventLoop, client, request);
        EXPECT_TRUE(r.ok()) << r.error;
        EXPECT_EQ(received, c.body);
        if (c.eventLoop) {
            EXPECT_EQ(pump.count, 0);  // the loop served the request, no pump
        }
    }
}

// A body slower than the low-speed limit (1 KiB a second over 30 s) fails as
// a stall in both drivers, though a byte arrives far more often than the
// stall limit asks; one just fast enough goes through. The sink moves the
// clock for every byte it receives, so the speed the client sees is exact
// however the pieces are grouped on the way; the server spreads the body
// over several checks of the limits (kPumpInterval) in real time.
TEST(HttpClientLimits, ABodySlowerThanTheLowSpeedLimitFailsAsAStallInBothDrivers) {
    test::QtCoreApp();
    TestServer server;
    Response slow = Response::Text(std::string(4000, 's'));
    slow.chunkSize = 100;
    slow.chunkDelay = 10ms;
    server.Route("/slow", slow);
    Response steady = Response::Text(std::string(200 * 1024, 'f'));
    steady.chunkSize = 10 * 1024;
    steady.chunkDelay = 10ms;
    server.Route("/steady", steady);
    struct {
        const char* name;
        bool eventLoop;
        std::string path;
        std::chrono::microseconds perByte;
        HttpFailure failure;
    } cases[] = {
        {"Send, 20 bytes a second", false, "/slow", 50ms, HttpFailure::kStalled},
        {"Start, 20 bytes a second", true, "/slow", 50ms, HttpFailure::kStalled},
        {"Send, 2 KiB a second", false, "/steady", 500us, HttpFailure::kNone},
        {"Start, 2 KiB a second", true, "/steady", 500us, HttpFailure::kNone},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPump pump;
        test::FakeMonotonicClock clock;
        HttpClient client(pump, clock);
        client.SetLimits({30s, 60s});  // the low-speed limit as the client has it
        std::size_t received = 0;
        HttpRequest request{.url = server.Url(c.path)};
        request.sink = [&](std::string_view piece) {
            clock.Advance(c.perByte * static_cast<long>(piece.size()));
            received += piece.size();
            return true;
        };
        HttpResponse r = SendThrough(c.eventLoop, client, request);
        EXPECT_EQ(r.failure, c.failure) << r.error;
        if (c.failure == HttpFailure::kStalled) {
            EXPECT_EQ(r.error, "less than 1024 bytes a second over 30000 ms");
            EXPECT_LT(received, 4000u);
        } else {
            EXPECT_EQ(received, 200u * 1024);
        }
    }
}

}  // namespace
}  // namespace zorvak
