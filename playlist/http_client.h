#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/event_pump.h"
#include "core/monotonic_clock.h"
#include "playlist/cookie_jar.h"
#include "playlist/http_head.h"

namespace zorvak {

enum class HttpFailure {
    kNone,
    kBusy,              // a request of this client was already under way
    kBadUrl,            // the URL cannot be requested (malformed, not http/https)
    kBadRequest,        // an extra header is malformed or one the client writes itself
    kConnect,           // name not resolved, connection refused or not opened in time
    kStalled,           // the answer stopped arriving for longer than the stall limit
    kTransfer,          // the connection broke or the answer was malformed
    kStatus,            // the final answer's status is not 2xx (304 included)
    kTooManyRedirects,  // a fifteenth redirect arrived
    kRedirectRefused,   // a 3xx answer while redirects are off
    kAborted,           // the answer callback or the body sink refused the answer
    kAbandoned,         // the client was told to give up (the process is ending)
    kTimedOut,          // the call took longer than its request's time limit
};

// What a request gave.
struct HttpResponse {
    HttpFailure failure = HttpFailure::kNone;
    int status = 0;            // status of the last answer received; 0 when none
    std::string finalUrl;      // the URL the last answer came from
    HttpHeaders headers;       // headers of the last answer received
    std::string body;          // body of the final answer (only when no sink was given)
    std::optional<std::int64_t> contentLength;  // as the final answer announced it
    int requests = 0;          // requests sent by this call (redirects included)
    std::string error;         // one line saying what went wrong; empty on success

    bool ok() const { return failure == HttpFailure::kNone; }
    std::optional<std::string> Header(std::string_view name) const {
        return FindHeader(headers, name);
    }
};

// Receives the final answer's body piece by piece; false aborts the request
// (kAborted). An exception it throws aborts the request and reaches the
// caller of the request.
using HttpBodySink = std::function<bool(std::string_view)>;

// Sees the final answer's status and headers before its body; false aborts
// the request (kAborted). An exception it throws aborts the request and
// reaches the caller of the request.
using HttpAnswerCheck = std::function<bool(const HttpAnswer&)>;

// Receives the answer of a request started with HttpClient::Start.
using HttpDone = std::function<void(HttpResponse)>;

// One request as HttpClient::Send and HttpClient::Start take it. Everything
// that shapes the request is here; the client keeps nothing of one request
// for the next but its cookies.
struct HttpRequest {
    enum class Method { kGet, kHead };
    // The User-Agent of a request that names none.
    static constexpr const char* kDefaultUserAgent = "Mozilla/3.0 (compatible; Indy Library)";

    std::string url;
    Method method = Method::kGet;
    // Redirects followed (see HttpClient). Off: a 3xx answer fails
    // (kRedirectRefused) and a 2xx answer is the result even when it carries
    // a Location header.
    bool followRedirects = false;
    // The User-Agent header's value.
    std::string userAgent = kDefaultUserAgent;
    // Sent on every request of the call, in this order, after User-Agent and
    // before Cookie. A name that is empty or holds anything but visible ASCII
    // other than ":", a value holding CR, LF or NUL, and a header the client
    // writes itself (Host, Content-Type, Accept, User-Agent, Cookie) make the
    // call fail with kBadRequest before anything is sent.
    HttpHeaders headers;
    // Called once, with the final answer (a 2xx that is not followed as a
    // redirect), after its headers and before its body.
    HttpAnswerCheck onAnswer;
    // Receives the final answer's body; without one the body is collected in
    // HttpResponse::body.
    HttpBodySink sink;
    // The longest the whole call, its redirects included, may take, counted
    // as the client's limits count (time inside the event pump left out);
    // longer fails (kTimedOut). None: only the client's limits apply.
    std::optional<std::chrono::milliseconds> timeLimit;
};

// How long a request may wait. Waiting is time outside the event pump without
// progress; see HttpClient.
struct HttpLimits {
    // Until the connection is open.
    std::chrono::milliseconds connect{30'000};
    // Once connected: the longest time without a byte from the server.
    std::chrono::milliseconds stall{60'000};
    // Once the body has begun to arrive: at least lowSpeed bytes a second
    // over every lowSpeedTime of waiting (the window starts again whenever
    // that much has arrived), or the request fails as stalled (kStalled), so
    // a trickle does not hold the client. 0: no such limit.
    std::uint64_t lowSpeed = 1024;
    std::chrono::milliseconds lowSpeedTime{30'000};
};

// The client's HTTP/1.1 connection to the playlist server, the online
// pictures and the media download, on libcurl. One request at a time; while
// a request waits on the network the event pump runs at least every
// kPumpInterval, so any handler may run in the middle of it (a second request
// started from there fails at once).
//
// Every request goes on the wire as
//
//     GET <path and query as given> HTTP/1.1
//     Content-Type: text/html
//     Host: <host>[:<port> unless the scheme's default]
//     Accept: text/html, */*
//     User-Agent: <the request's userAgent>
//     <the request's extra headers, in their order>      (only when given)
//     Cookie: <cookies held for this host and path>      (only when there are some)
//
// and with no other header (HEAD instead of GET for a HEAD request).
// Redirects: interim 1xx answers are skipped; a 2xx answer is the result; a
// 3xx other than 304, and any answer carrying a Location header, sends the
// same request to the (resolved) location while fewer than 15 requests have
// gone out; 304 and every other status fail. A request with followRedirects
// off fails on a 3xx answer and takes a 2xx answer as the result even when it
// carries a Location header. Set-Cookie headers of every answer are kept for
// the client's life.
//
// The engine (http_engine.cpp) holds the steps every request takes: the
// checks before it, each hop set up on the easy handle, and what a hop's end
// means under the redirect and status rules. Two drivers wait for the hops:
// Send() polls and pumps (http_send.cpp), Start() leaves it to the thread's
// Qt event loop (http_start.cpp).
class HttpClient {
public:
    static constexpr int kMaxRequestsPerCall = 15;
    static constexpr std::chrono::milliseconds kPumpInterval{100};

    // Waiting time is measured on clock, which must outlive the client.
    explicit HttpClient(EventPump& pump, MonotonicClock& clock = SteadyMonotonicClock::Instance());
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // The request, waiting for its answer.
    HttpResponse Send(const HttpRequest& request);
    // GET of url as a request with every other field as HttpRequest has it;
    // the body is collected in memory.
    HttpResponse Get(const std::string& url);

    // The request without waiting: it goes out and is answered while the
    // thread's Qt event loop runs (a QCoreApplication must exist), on
    // libcurl's socket and timer callbacks with QSocketNotifier and QTimer;
    // nothing is pumped. done receives what Send() would return, always from
    // the event loop, never inside Start() (a refused request too), and may
    // destroy the client. The same rules as Send(): headers, redirects,
    // cookies, one request at a time (kBusy), the limits (checked every
    // kPumpInterval; all time without progress counts) and the abandon test
    // (asked at the same interval). An exception of a callback ends the
    // request with kAborted.
    void Start(const HttpRequest& request, HttpDone done);
    // Drops a request started with Start(): it goes off the wire at once and
    // its done is never called. Nothing when none is under way.
    void Cancel();

    // A request of either kind is under way (one of Start() until its done runs).
    bool IsBusy() const { return busy_; }

    // A connection that has not opened after limits.connect of waiting fails
    // (kConnect); an answer from which nothing arrives for limits.stall fails
    // (kStalled), and so does a body slower than limits.lowSpeed. Waiting is
    // measured on the client's MonotonicClock. Time spent inside the event
    // pump does not count, so a long nested handler does not make a healthy
    // request fail.
    void SetLimits(HttpLimits limits) { limits_ = limits; }

    // A request under way is abandoned (kAbandoned) as soon as abandon()
    // answers true, which is asked after every turn of the event pump; a
    // request started while it answers true fails at once and sends nothing.
    // For a process that is ending: nothing waits for the network then.
    void SetAbandonWhen(std::function<bool()> abandon) { abandon_ = std::move(abandon); }

private:
    struct Transfer;
    struct Call;
    struct AsyncDriver;
    struct AsyncDriverDeleter {
        void operator()(AsyncDriver* driver) const;
    };
    enum class HopEnd { kNext, kDone };

    // The engine (http_engine.cpp).
    // The checks before a call's first hop; false when it fails (the
    // response then says why).
    bool BeginCall(Call& call);
    // One hop: the URL parsed, the abandon test, the easy handle set up and
    // attached to multi. kNone when it is on the wire.
    HttpFailure BeginHop(Call& call, void* multi, std::string& error);
    HttpFailure Attach(Call& call, void* multi, std::string& error);
    void Detach(Call& call);
    // After a hop ended with f: the response filled in, and whether the
    // redirect rules send another hop (call.current is then its URL).
    HopEnd EndHop(Call& call, HttpFailure f, std::string error);
    // counted more time of the call gone by (outside the pump): the time
    // waited set back to nothing when a byte arrived, then kConnect or
    // kStalled once the call waited longer than its limit or its body came
    // slower than the low-speed limit, kTimedOut once the whole call took
    // longer than its request allows.
    HttpFailure CountTime(Call& call, MonotonicClock::duration counted, std::string& error) const;
    bool Abandoned() const { return abandon_ && abandon_(); }
    // libcurl's result of a hop as a failure.
    static HttpFailure Outcome(Transfer& t, int result, std::string& error);

    // The waiting driver (http_send.cpp): polls, pumps, keeps the limits.
    HttpFailure Perform(Call& call, std::string& error);

    EventPump& pump_;
    MonotonicClock& clock_;
    void* multi_ = nullptr;  // CURLM*
    void* easy_ = nullptr;   // CURL*
    bool busy_ = false;
    HttpLimits limits_;
    std::function<bool()> abandon_;
    CookieJar cookies_;
    // The event-loop driver (http_start.cpp), made by the first Start().
    std::unique_ptr<AsyncDriver, AsyncDriverDeleter> async_;
};

}  // namespace zorvak
