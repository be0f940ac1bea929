#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/event_pump.h"
#include "core/monotonic_clock.h"
#include "playlist/cookie_jar.h"

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
};

// One header line of a request or an answer.
struct HttpHeader {
    std::string name;
    std::string value;

    bool operator==(const HttpHeader&) const = default;
};
using HttpHeaders = std::vector<HttpHeader>;

// The value of the first header called name (compared without case); nullopt
// when there is none.
std::optional<std::string> FindHeader(const HttpHeaders& headers, std::string_view name);

// The status and headers of an answer, as they arrived.
struct HttpAnswer {
    int status = 0;
    std::string url;      // the URL this answer came from
    HttpHeaders headers;  // in the order received, names as sent, values without
                          // surrounding blanks; folded lines joined with a blank

    std::optional<std::string> Header(std::string_view name) const {
        return FindHeader(headers, name);
    }
};

// Reads the head of an answer as it arrives, one line at a time (each line
// with or without its line end): a status line starts an answer (an interim
// 1xx or a redirect is followed by another), header lines fill it, a line
// beginning with a blank or a tab continues the header before it, the empty
// line ends the head. Once the head of an answer of status 200 or more has
// ended, later lines are trailers and are ignored until the next status line.
// A CR, LF or NUL inside a line is read as a blank.
class HttpHeadReader {
public:
    enum class Line {
        kStatus,   // a new answer began
        kHeader,   // a header was added (Answer().headers.back())
        kFolded,   // the last header was continued
        kEnd,      // the head ended
        kIgnored,  // a trailer, or a line that is no header
    };

    Line Feed(std::string_view line);
    // The answer read so far (its url is not set here).
    const HttpAnswer& Answer() const { return answer_; }
    HttpAnswer& Answer() { return answer_; }
    // True once a final answer's head (status 200 or more) has ended.
    bool HeadDone() const { return headDone_; }

private:
    HttpAnswer answer_;
    bool headDone_ = false;
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

// One request as HttpClient::Send takes it.
struct HttpRequest {
    enum class Method { kGet, kHead };

    std::string url;
    Method method = Method::kGet;
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
};

inline constexpr std::chrono::milliseconds kHttpDefaultConnectLimit{30'000};
inline constexpr std::chrono::milliseconds kHttpDefaultStallLimit{60'000};

// How long a request may wait. Waiting is time outside the event pump without
// progress; see HttpClient.
struct HttpLimits {
    // Until the connection is open.
    std::chrono::milliseconds connect = kHttpDefaultConnectLimit;
    // Once connected: the longest time without a byte from the server.
    std::chrono::milliseconds stall = kHttpDefaultStallLimit;
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
//     User-Agent: <UserAgent()>
//     <the request's extra headers, in their order>      (only when given)
//     Cookie: <cookies held for this host and path>      (only when there are some)
//
// and with no other header (HEAD instead of GET for a HEAD request).
// Redirects: interim 1xx answers are skipped; a 2xx answer is the result; a
// 3xx other than 304, and any answer carrying a Location header, sends the
// same request to the (resolved) location while fewer than 15 requests have
// gone out; 304 and every other status fail. With redirects off a 3xx answer
// fails and a 2xx answer is the result even when it carries a Location
// header. Set-Cookie headers of every answer are kept for the client's life.
class HttpClient {
public:
    static constexpr const char* kInitialUserAgent = "Mozilla/3.0 (compatible; Indy Library)";
    static constexpr int kMaxRequestsPerCall = 15;
    static constexpr std::chrono::milliseconds kPumpInterval{100};
    static constexpr std::chrono::milliseconds kDefaultConnectLimit = kHttpDefaultConnectLimit;
    static constexpr std::chrono::milliseconds kDefaultStallLimit = kHttpDefaultStallLimit;

    using BodySink = HttpBodySink;

    // Waiting time is measured on clock, which must outlive the client.
    explicit HttpClient(EventPump& pump, MonotonicClock& clock = SteadyMonotonicClock::Instance());
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // The request with the settings the client holds now.
    HttpResponse Send(const HttpRequest& request);
    // GET; the body is collected in memory.
    HttpResponse Get(const std::string& url);
    // GET whose final body goes to sink instead of memory.
    HttpResponse Get(const std::string& url, const BodySink& sink);
    // HEAD; finalUrl and contentLength tell where it ended and what it announced.
    HttpResponse Head(const std::string& url);

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

    // Created off; HttpGetText switches it on.
    void SetFollowRedirects(bool on) { followRedirects_ = on; }
    bool FollowRedirects() const { return followRedirects_; }
    // Created as kInitialUserAgent.
    void SetUserAgent(std::string userAgent) { userAgent_ = std::move(userAgent); }
    const std::string& UserAgent() const { return userAgent_; }

    // A connection that has not opened after this much waiting fails
    // (kConnect); an answer from which nothing arrives for this long fails
    // (kStalled). Waiting is measured on the client's MonotonicClock. Time
    // spent inside the event pump does not count, so a long nested handler
    // does not make a healthy request fail.
    void SetLimits(HttpLimits limits) { limits_ = limits; }
    HttpLimits Limits() const { return limits_; }
    void SetConnectLimit(std::chrono::milliseconds limit) { limits_.connect = limit; }
    void SetStallLimit(std::chrono::milliseconds limit) { limits_.stall = limit; }
    std::chrono::milliseconds ConnectLimit() const { return limits_.connect; }
    std::chrono::milliseconds StallLimit() const { return limits_.stall; }

    // A request under way is abandoned (kAbandoned) as soon as abandon()
    // answers true, which is asked after every turn of the event pump; a
    // request started while it answers true fails at once and sends nothing.
    // For a process that is ending: nothing waits for the network then.
    void SetAbandonWhen(std::function<bool()> abandon) { abandon_ = std::move(abandon); }

    const CookieJar& Cookies() const { return cookies_; }

private:
    struct Transfer;
    struct Call;
    struct AsyncDriver;
    enum class HopEnd { kNext, kDone };

    HttpResponse Run(const HttpRequest& request);
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
    // kConnect or kStalled once the call waited longer than its limit.
    HttpFailure LimitReached(const Call& call, std::string& error) const;
    // Send()'s wait: polls, pumps, keeps the limits.
    HttpFailure Perform(Call& call, std::string& error);
    // libcurl's result of a hop as a failure.
    static HttpFailure Outcome(Transfer& t, int result, std::string& error);

    EventPump& pump_;
    MonotonicClock& clock_;
    void* multi_ = nullptr;  // CURLM*
    void* easy_ = nullptr;   // CURL*
    bool busy_ = false;
    bool followRedirects_ = false;
    std::string userAgent_ = kInitialUserAgent;
    HttpLimits limits_;
    std::function<bool()> abandon_;
    CookieJar cookies_;
    std::unique_ptr<AsyncDriver> async_;
};

// The text of a playlist answer.
struct HttpText {
    std::string ansi;   // the body converted to the ANSI code page; empty on any failure
    std::string utf8;   // the body as received (valid UTF-8); empty on any failure
    HttpFailure failure = HttpFailure::kNone;
    bool notUtf8 = false;  // the request succeeded but the body is not valid UTF-8
    std::string error;
};

// Switches the client's redirect following on and its User-Agent to
// "Mozilla/5.0" (both stay so), GETs url, decodes the body strictly as UTF-8
// and converts it to the ANSI code page (a character the code page cannot
// hold becomes "?"). Empty text on any failure. Never throws.
HttpText HttpGetTextDetailed(HttpClient& client, const std::string& url) noexcept;
// The same, with serve() run between pieces of the conversion (every 512 KiB
// of the body), for a caller on the GUI thread.
HttpText HttpGetTextDetailed(HttpClient& client, const std::string& url,
                             const std::function<void()>& serve) noexcept;

// Utf8ToAnsi of utf8 converted piece by piece (never splitting a character),
// with serve() between two pieces; the same result as one call. Without serve,
// one call.
std::optional<std::string> Utf8ToAnsiInPieces(std::string_view utf8,
                                              const std::function<void()>& serve);
std::string HttpGetText(HttpClient& client, const std::string& url) noexcept;

inline constexpr const char* kFetchUserAgent = "Mozilla/5.0";

// The Host header value the client sends for url: the host, followed by ":"
// and the port when it is not the scheme's default. nullopt for a URL the
// client cannot request.
std::optional<std::string> HostHeaderFor(const std::string& url);

}  // namespace zorvak
