#pragma once

// An HTTP/1.1 server on 127.0.0.1 for tests, benchmarks and the demo. It runs
// on threads of its own inside the test process: one accepting connections and
// one per connection. Routes are matched by exact path (the query string is
// not part of the match); every request is recorded with its raw bytes.
//
//     zorvak::test::TestServer server;             // listening from here on
//     server.Route("/getplaylist.php", zorvak::test::Response::Text("<root/>"));
//     std::string url = server.Url("/getplaylist.php?hostname=x");
//     ...
//     EXPECT_EQ(server.RequestCount("/getplaylist.php"), 1);
//
// The destructor (or Stop()) ends every connection, including stalled and
// slow answers, and joins every thread.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace zorvak::test {

using Headers = std::vector<std::pair<std::string, std::string>>;

// One request as the server received it.
struct Request {
    // The request line and the header lines exactly as received, up to and
    // including the empty line that ends them.
    std::string raw;
    std::string method;
    std::string target;  // as on the request line: path, "?" and query
    std::string path;    // target up to "?"
    std::string query;   // after "?", undecoded ("" when none)
    std::string version;
    Headers headers;     // in the order received, names as sent
    std::string body;    // only when the request announced a Content-Length
    int connection = 0;  // serial number of the connection it arrived on (1, 2, ...)

    // The first header of that name (compared without case); nullopt if none.
    std::optional<std::string> Header(std::string_view name) const;
    // The value of a query key, percent-decoded ("+" stays "+"); nullopt if none.
    std::optional<std::string> QueryValue(std::string_view key) const;
};

// Produces body bytes [offset, offset + length) into out. False ends the
// answer by dropping the connection.
using BodyGenerator = std::function<bool(std::uint64_t offset, char* out, std::size_t length)>;

// How the server answers one request.
struct Response {
    enum class Stall {
        kNone,
        kBeforeHeaders,  // read the request, then send nothing until the server stops
        kAfterHeaders,   // send the status line and headers, then nothing more
    };

    int status = 200;
    std::string reason;  // empty: the usual phrase for status
    Headers headers;     // sent in this order after the status line
    std::string body;
    // Body made on the fly instead of body: generatedSize bytes from generator.
    BodyGenerator generator;
    std::uint64_t generatedSize = 0;

    // Send "Content-Length" (unless headers already hold one). Without it the
    // body ends when the server closes the connection.
    bool contentLength = true;
    // Close the connection after this answer.
    bool close = false;
    // Answer "Range: bytes=..." (one range) with 206 and Content-Range, and
    // advertise "Accept-Ranges: bytes". Only for status 200. A request with
    // If-Range gets the range only when its value equals the answer's ETag or
    // Last-Modified header, else the whole body with 200.
    bool ranges = false;
    // Send "HTTP/1.1 100 Continue" and an empty line before the answer.
    bool interimContinue = false;

    // Wait before the status line.
    std::chrono::milliseconds headerDelay{0};
    // Slow body: pieces of chunkSize bytes, chunkDelay before each piece.
    std::size_t chunkSize = 0;
    std::chrono::milliseconds chunkDelay{0};
    // Body at no more than this many bytes per second (0: as fast as the
    // connection takes it), measured from the first body byte of the answer.
    std::uint64_t bytesPerSecond = 0;
    Stall stall = Stall::kNone;
    // Drop the connection after this many body bytes have been sent.
    std::optional<std::uint64_t> dropAfter;

    // Bytes sent as they are instead of a composed answer; the connection is
    // closed afterwards.
    std::optional<std::string> raw;

    static Response Text(std::string body, std::string contentType = "text/html");
    static Response Status(int status, std::string body = {});
    static Response Redirect(int status, std::string location);
};

using Handler = std::function<Response(const Request&)>;

class TestServer {
public:
    // Starts listening on 127.0.0.1 at an ephemeral port (or at port when not 0).
    // Throws std::runtime_error when the socket cannot be set up.
    explicit TestServer(int port = 0);
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    int Port() const { return port_; }
    // "127.0.0.1:PORT"
    std::string HostPort() const;
    // "http://127.0.0.1:PORT" + pathAndQuery
    std::string Url(std::string_view pathAndQuery = "/") const;

    // Answers requests for exactly this path (query ignored) with a fixed
    // response or a handler's. A later route for the same path replaces it.
    void Route(const std::string& path, Response response);
    void Route(const std::string& path, Handler handler);
    // For paths without a route; the default answers 404.
    void SetFallback(Handler handler);

    // Every request received so far, in arrival order.
    std::vector<Request> Requests() const;
    // Raw bytes of every request so far.
    std::vector<std::string> RawRequests() const;
    // Requests received for path (query ignored).
    int RequestCount(const std::string& path) const;
    int TotalRequests() const;
    int Connections() const;
    void ClearRecords();
    // Waits until at least count requests have arrived; false on timeout.
    bool WaitForRequests(int count, std::chrono::milliseconds timeout) const;

    // Ends every connection and joins every thread; idempotent.
    void Stop();

private:
    struct Connection {
        int fd = -1;
        std::thread thread;
        std::atomic<bool> done{false};
    };

    void AcceptLoop();
    void Serve(Connection* conn, int serial);
    bool Answer(int fd, const Request& req, const Response& resp);
    bool SendAll(int fd, std::string_view bytes);
    // Sleeps unless the server stops meanwhile; false when it stopped.
    bool SleepFor(std::chrono::milliseconds delay);
    void WaitUntilStopped();
    void ReapFinished();
    Handler FindHandler(const std::string& path) const;

    int listenFd_ = -1;
    int wakePipe_[2] = {-1, -1};
    int port_ = 0;
    std::thread acceptThread_;
    std::atomic<bool> stopping_{false};

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::map<std::string, Handler> routes_;
    Handler fallback_;
    std::vector<Request> requests_;
    std::map<std::string, int> counts_;
    int connectionCount_ = 0;
    std::list<std::unique_ptr<Connection>> connections_;
};

// A listening socket on 127.0.0.1 that never accepts and whose queue is full,
// so a new connection to it does not open (the SYN is left unanswered).
// Connected() is false when the queue could not be filled.
class UnansweredListener {
public:
    UnansweredListener();
    ~UnansweredListener();
    UnansweredListener(const UnansweredListener&) = delete;
    UnansweredListener& operator=(const UnansweredListener&) = delete;
    int Port() const { return port_; }
    std::string Url(std::string_view pathAndQuery = "/") const;
    bool Ready() const { return ready_; }

private:
    int listenFd_ = -1;
    int port_ = 0;
    bool ready_ = false;
    std::vector<int> fillers_;
};

// The usual reason phrase of a status code ("OK", "Not Found", ...).
const char* ReasonPhrase(int status);

}  // namespace zorvak::test
