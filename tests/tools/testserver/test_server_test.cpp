#include "tools/testserver/test_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace zorvak::test {
namespace {

using namespace std::chrono_literals;

// A plain socket client: sends bytes, reads until the server closes or the
// wait runs out.
class RawClient {
public:
    explicit RawClient(int port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(static_cast<uint16_t>(port));
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
    ~RawClient() { ::close(fd_); }
    bool connected() const { return connected_; }
    void Send(const std::string& bytes) { ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
    // Reads until the peer closes (closed = true) or nothing arrives for idle.
    std::string Read(std::chrono::milliseconds idle, bool* closed = nullptr) {
        std::string out;
        char buf[65536];
        while (true) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(idle.count())) <= 0) {
                if (closed) *closed = false;
                return out;
            }
            ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n <= 0) {
                if (closed) *closed = true;
                return out;
            }
            out.append(buf, static_cast<size_t>(n));
        }
    }

private:
    int fd_ = -1;
    bool connected_ = false;
};

std::string Get(const std::string& target, const std::string& extra = "") {
    return "GET " + target + " HTTP/1.1\r\nHost: x\r\n" + extra + "\r\n";
}

TEST(TestServer, RecordsRawRequestsCountsPathsAndKeepsConnectionsOpen) {
    TestServer server;
    server.Route("/a", Response::Text("hello"));
    RawClient c(server.Port());
    ASSERT_TRUE(c.connected());
    std::string req = "GET /a?x=1%202&y HTTP/1.1\r\nHost: h\r\nX-Odd:  v \r\n\r\n";
    c.Send(req);
    std::string answer = c.Read(200ms);
    EXPECT_EQ(answer, "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 5\r\n\r\nhello");
    c.Send(Get("/b"));
    EXPECT_NE(c.Read(200ms).find("HTTP/1.1 404 Not Found\r\n"), std::string::npos);
    ASSERT_TRUE(server.WaitForRequests(2, 1s));
    auto reqs = server.Requests();
    ASSERT_EQ(reqs.size(), 2u);
    EXPECT_EQ(reqs[0].raw, req);
    EXPECT_EQ(reqs[0].path, "/a");
    EXPECT_EQ(reqs[0].query, "x=1%202&y");
    EXPECT_EQ(reqs[0].QueryValue("x"), "1 2");
    EXPECT_EQ(reqs[0].QueryValue("y"), "");
    EXPECT_FALSE(reqs[0].QueryValue("z"));
    EXPECT_EQ(reqs[0].Header("x-odd"), "v");
    EXPECT_EQ(reqs[1].connection, reqs[0].connection);
    EXPECT_EQ(server.RequestCount("/a"), 1);
    EXPECT_EQ(server.RequestCount("/b"), 1);
    EXPECT_EQ(server.Connections(), 1);
}

TEST(TestServer, HeadRangesAndCloseDelimitedBodies) {
    TestServer server;
    Response file = Response::Text("0123456789", "application/octet-stream");
    file.ranges = true;
    server.Route("/f", file);
    Response noLength = Response::Text("until close");
    noLength.contentLength = false;
    server.Route("/nolen", noLength);

    struct Case {
        std::string request;
        std::string expectedStart;
        std::string expectedBody;
        bool closes;
    } cases[] = {
        {"HEAD /f HTTP/1.1\r\nHost: x\r\n\r\n",
         "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nAccept-Ranges: bytes\r\n"
         "Content-Length: 10\r\n\r\n",
         "", false},
        {Get("/f", "Range: bytes=2-4\r\n"), "HTTP/1.1 206 Partial Content\r\n", "234", false},
        {Get("/f", "Range: bytes=7-\r\n"), "HTTP/1.1 206 Partial Content\r\n", "789", false},
        {Get("/f", "Range: bytes=-2\r\n"), "HTTP/1.1 206 Partial Content\r\n", "89", false},
        {Get("/f", "Range: bytes=10-\r\n"), "HTTP/1.1 416 Range Not Satisfiable\r\n", "", false},
        {Get("/nolen"), "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n", "until close", true},
    };
    for (const auto& tc : cases) {
        RawClient c(server.Port());
        c.Send(tc.request);
        bool closed = false;
        std::string answer = c.Read(300ms, &closed);
        EXPECT_EQ(answer.substr(0, tc.expectedStart.size()), tc.expectedStart) << tc.request;
        auto sep = answer.find("\r\n\r\n");
        ASSERT_NE(sep, std::string::npos) << tc.request;
        EXPECT_EQ(answer.substr(sep + 4), tc.expectedBody) << tc.request;
        EXPECT_EQ(closed, tc.closes) << tc.request;
    }
    RawClient c(server.Port());
    c.Send(Get("/f", "Range: bytes=3-5\r\n"));
    EXPECT_NE(c.Read(200ms).find("Content-Range: bytes 3-5/10\r\n"), std::string::npos);
}

TEST(TestServer, GeneratedBodiesSlowPiecesAndDroppedConnections) {
    TestServer server;
    Response big;
    big.generatedSize = 3'000'000;
    big.generator = [](std::uint64_t offset, char* out, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<char>('a' + (offset + i) % 26);
        return true;
    };
    server.Route("/big", big);
    Response dropped = big;
    dropped.dropAfter = 1000;
    server.Route("/drop", dropped);
    Response slow = Response::Text("abcdef");
    slow.chunkSize = 2;
    slow.chunkDelay = 20ms;
    server.Route("/slow", slow);

    {
        RawClient c(server.Port());
        c.Send(Get("/big"));
        std::string answer = c.Read(300ms);
        auto sep = answer.find("\r\n\r\n");
        ASSERT_NE(sep, std::string::npos);
        std::string body = answer.substr(sep + 4);
        ASSERT_EQ(body.size(), 3'000'000u);
        EXPECT_EQ(body.substr(26 * 1000, 3), "abc");
    }
    {
        RawClient c(server.Port());
        c.Send(Get("/drop"));
        bool closed = false;
        std::string answer = c.Read(1s, &closed);
        EXPECT_TRUE(closed);
        EXPECT_NE(answer.find("Content-Length: 3000000\r\n"), std::string::npos);
        EXPECT_EQ(answer.size() - answer.find("\r\n\r\n") - 4, 1000u);
    }
    {
        RawClient c(server.Port());
        c.Send(Get("/slow"));
        std::string answer = c.Read(500ms);
        EXPECT_EQ(answer.substr(answer.find("\r\n\r\n") + 4), "abcdef");
    }
}

// A paced body takes its size over its rate, not less, and arrives whole.
TEST(TestServer, APacedBodyArrivesAtItsRate) {
    TestServer server;
    Response paced;
    paced.generatedSize = 2'000'000;
    paced.generator = [](std::uint64_t offset, char* out, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<char>('a' + (offset + i) % 26);
        return true;
    };
    paced.bytesPerSecond = 5'000'000;  // 400 ms for the body
    server.Route("/paced", paced);

    RawClient c(server.Port());
    const auto start = std::chrono::steady_clock::now();
    c.Send(Get("/paced"));
    std::string answer = c.Read(1s);
    const auto took = std::chrono::steady_clock::now() - start;
    const auto sep = answer.find("\r\n\r\n");
    ASSERT_NE(sep, std::string::npos);
    EXPECT_EQ(answer.size() - sep - 4, 2'000'000u);
    EXPECT_EQ(answer.substr(sep + 4 + 26 * 1000, 3), "abc");
    // The read waits 1 s of silence after the body, which cannot have taken
    // less than about 400 ms of its own (its last piece is due at 395 ms).
    EXPECT_GE(took, 1000ms + 390ms);
}

TEST(TestServer, HandlersSeeTheRequestAndRawAnswersGoOutAsGiven) {
    TestServer server;
    server.Route("/echo", [](const Request& r) {
        Response resp = Response::Text(r.QueryValue("k").value_or("-"));
        resp.status = 201;
        resp.reason = "Made";
        resp.headers.emplace_back("Set-Cookie", "a=b");
        return resp;
    });
    Response raw;
    raw.raw = "HTTP/1.1 200 OK\r\n\r\nfree form";
    server.Route("/raw", raw);
    RawClient c(server.Port());
    c.Send(Get("/echo?k=v%41"));
    EXPECT_EQ(c.Read(200ms),
              "HTTP/1.1 201 Made\r\nContent-Type: text/html\r\nSet-Cookie: a=b\r\n"
              "Content-Length: 2\r\n\r\nvA");
    RawClient d(server.Port());
    d.Send(Get("/raw"));
    bool closed = false;
    EXPECT_EQ(d.Read(300ms, &closed), "HTTP/1.1 200 OK\r\n\r\nfree form");
    EXPECT_TRUE(closed);
}

TEST(TestServer, StopEndsStalledAndSlowAnswersPromptly) {
    auto server = std::make_unique<TestServer>();
    Response before;
    before.stall = Response::Stall::kBeforeHeaders;
    Response after = Response::Text("never");
    after.stall = Response::Stall::kAfterHeaders;
    Response slow = Response::Text(std::string(100, 'x'));
    slow.chunkSize = 1;
    slow.chunkDelay = 10s;
    server->Route("/before", before);
    server->Route("/after", after);
    server->Route("/slow", slow);
    RawClient a(server->Port()), b(server->Port()), c(server->Port()), idle(server->Port());
    a.Send(Get("/before"));
    b.Send(Get("/after"));
    c.Send(Get("/slow"));
    ASSERT_TRUE(server->WaitForRequests(3, 2s));
    EXPECT_EQ(a.Read(100ms), "");
    EXPECT_NE(b.Read(100ms).find("Content-Length: 5\r\n\r\n"), std::string::npos);
    auto start = std::chrono::steady_clock::now();
    server.reset();
    // Generous bound: only a hang (waiting out the 10 s delay) should fail it.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    bool closed = false;
    a.Read(1s, &closed);
    EXPECT_TRUE(closed);
}

TEST(UnansweredListener, ConnectionsDoNotOpen) {
    UnansweredListener listener;
    ASSERT_TRUE(listener.Ready());
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(listener.Port()));
    ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    pollfd p{fd, POLLOUT, 0};
    EXPECT_EQ(::poll(&p, 1, 300), 0);
    ::close(fd);
}

}  // namespace
}  // namespace zorvak::test
