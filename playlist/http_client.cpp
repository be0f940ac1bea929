#include "playlist/http_client.h"

#include <curl/curl.h>

#include <QCoreApplication>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cstring>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "core/text.h"
#include "core/text_encoding.h"

namespace zorvak {

namespace {

using std::chrono::milliseconds;

constexpr long kReceiveBufferSize = 512L * 1024;
constexpr std::uint64_t kMaxReservedBody = 256ull * 1024 * 1024;

CURLM* Multi(void* p) { return static_cast<CURLM*>(p); }
CURL* Easy(void* p) { return static_cast<CURL*>(p); }

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// Headers the client writes on every request itself.
constexpr std::string_view kClientHeaders[] = {"Host", "Content-Type", "Accept", "User-Agent",
                                               "Cookie"};

bool IsSendableExtraHeader(const HttpHeader& header) {
    if (header.name.empty()) return false;
    for (char c : header.name)
        if (c <= ' ' || c > '~' || c == ':') return false;
    for (std::string_view own : kClientHeaders)
        if (EqualsNoCase(header.name, own)) return false;
    return header.value.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos;
}

struct CurlUrl {
    CURLU* h = curl_url();
    ~CurlUrl() { curl_url_cleanup(h); }
    std::string Get(CURLUPart part, unsigned flags = 0) const {
        char* out = nullptr;
        if (curl_url_get(h, part, &out, flags) != CURLUE_OK || !out) return {};
        std::string s(out);
        curl_free(out);
        return s;
    }
};

// The parts of a request URL the client needs for its own headers.
struct Target {
    std::string scheme;
    std::string hostHeader;  // host, plus ":port" unless the scheme's default
    std::string host;        // for cookies
    std::string path;        // without the query, for cookies
};

bool ParseTarget(const std::string& url, Target& t) {
    CurlUrl u;
    if (curl_url_set(u.h, CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) return false;
    t.scheme = ToLowerAscii(u.Get(CURLUPART_SCHEME));
    if (t.scheme != "http" && t.scheme != "https") return false;
    t.host = u.Get(CURLUPART_HOST);
    if (t.host.empty()) return false;
    std::string port = u.Get(CURLUPART_PORT, CURLU_DEFAULT_PORT);
    std::string defaultPort = t.scheme == "https" ? "443" : "80";
    t.hostHeader = t.host;
    if (!port.empty() && port != defaultPort) t.hostHeader += ":" + port;
    t.path = u.Get(CURLUPART_PATH);
    if (t.path.empty()) t.path = "/";
    return true;
}

// location resolved against base; empty when it cannot be.
std::string Resolve(const std::string& base, const std::string& location) {
    CurlUrl u;
    if (curl_url_set(u.h, CURLUPART_URL, base.c_str(), 0) != CURLUE_OK) return {};
    if (curl_url_set(u.h, CURLUPART_URL, location.c_str(), CURLU_URLENCODE | CURLU_ALLOW_SPACE) !=
        CURLUE_OK)
        return {};
    return u.Get(CURLUPART_URL);
}

const char* FailureText(HttpFailure f) {
    switch (f) {
        case HttpFailure::kNone: return "";
        case HttpFailure::kBusy: return "another request of this client is under way";
        case HttpFailure::kBadUrl: return "the URL cannot be requested";
        case HttpFailure::kConnect: return "no connection";
        case HttpFailure::kStalled: return "the answer stalled";
        case HttpFailure::kTransfer: return "the transfer failed";
        case HttpFailure::kStatus: return "the server answered with an error status";
        case HttpFailure::kTooManyRedirects: return "too many redirects";
        case HttpFailure::kRedirectRefused: return "a redirect while redirects are off";
        case HttpFailure::kBadRequest: return "an extra header cannot be sent";
        case HttpFailure::kAborted: return "the answer was refused";
        case HttpFailure::kAbandoned: return "the request was abandoned";
    }
    return "";
}

}  // namespace

HttpHeadReader::Line HttpHeadReader::Feed(std::string_view line) {
    if (StartsWithNoCase(line, "HTTP/")) {
        // A new answer (an interim 1xx is followed by the final one).
        answer_.status = 0;
        const auto sp = line.find(' ');
        if (sp != std::string_view::npos) {
            std::string_view code = line.substr(sp + 1, 3);
            int status = 0;
            bool digits = code.size() == 3;
            for (char c : code) {
                digits = digits && c >= '0' && c <= '9';
                status = status * 10 + (c - '0');
            }
            if (digits) answer_.status = status;
        }
        answer_.headers.clear();
        headDone_ = false;
        return Line::kStatus;
    }
    if (headDone_) return Line::kIgnored;  // trailers of a chunked body: not kept
    // A CR, LF or NUL inside a line becomes a blank (as HTTP/1.1 asks of a
    // recipient), so no kept name or value carries one into a later request.
    std::string cleaned(Trim(line, kBlanksAndLineEnds));
    for (char& c : cleaned)
        if (c == '\r' || c == '\n' || c == '\0') c = ' ';
    std::string_view content = Trim(cleaned, kBlanksAndLineEnds);
    if (content.empty()) {
        if (answer_.status >= 200) headDone_ = true;
        return Line::kEnd;
    }
    if ((line.front() == ' ' || line.front() == '\t') && !answer_.headers.empty()) {
        answer_.headers.back().value += ' ';
        answer_.headers.back().value += content;
        return Line::kFolded;
    }
    const auto colon = content.find(':');
    if (colon == std::string_view::npos) return Line::kIgnored;
    answer_.headers.push_back(
        {std::string(content.substr(0, colon)), std::string(Trim(content.substr(colon + 1), kBlanksAndLineEnds))});
    return Line::kHeader;
}

// State of one request on the wire (one hop of a redirect chain).
struct HttpClient::Transfer {
    HttpClient* client = nullptr;
    const HttpRequest* request = nullptr;
    std::string* body = nullptr;
    std::string url;
    Target target;
    bool onWire = false;   // handed to libcurl (the URL parsed, not abandoned)

    HttpHeadReader head;   // the answer arriving now (status, url, headers)
    HttpAnswer& answer = head.Answer();
    std::string location;  // its last Location header
    bool connected = false;
    bool progress = false;
    bool refused = false;  // the answer callback or the sink said no
    // An exception of a callback (the sink, an allocation): it must not cross
    // libcurl, which would be left inside its callback for good. The transfer
    // is aborted and the exception thrown again once libcurl has returned.
    std::exception_ptr thrown;
    char errorBuffer[CURL_ERROR_SIZE] = {};

    bool IsRedirect() const {
        const int status = answer.status;
        if (status == 304) return false;
        if (status >= 300 && status < 400) return true;
        return client->followRedirects_ && !location.empty();
    }
    bool Delivers() const { return answer.status >= 200 && answer.status < 300 && !IsRedirect(); }

    static size_t OnHeader(char* data, size_t size, size_t count, void* userp) {
        auto* t = static_cast<Transfer*>(userp);
        try {
            return Header(t, data, size * count);
        } catch (...) {
            t->thrown = std::current_exception();
            return 0;
        }
    }

    static size_t OnBody(char* data, size_t size, size_t count, void* userp) {
        auto* t = static_cast<Transfer*>(userp);
        try {
            return Body(t, data, size * count);
        } catch (...) {
            t->thrown = std::current_exception();
            return 0;
        }
    }

    static size_t Header(Transfer* t, char* data, size_t n) {
        t->progress = true;
        switch (t->head.Feed(std::string_view(data, n))) {
            case HttpHeadReader::Line::kStatus:
                t->location.clear();
                break;
            case HttpHeadReader::Line::kHeader: {
                const HttpHeader& header = t->answer.headers.back();
                if (EqualsNoCase(header.name, "Location"))
                    t->location = header.value;
                else if (EqualsNoCase(header.name, "Set-Cookie"))
                    t->client->cookies_.Store(header.value, t->target.host, t->target.path);
                break;
            }
            case HttpHeadReader::Line::kEnd:
                if (t->head.HeadDone() && t->Delivers() && t->request->onAnswer &&
                    !t->request->onAnswer(t->answer)) {
                    t->refused = true;
                    return 0;
                }
                if (t->head.HeadDone() && t->Delivers() && !t->request->sink) t->ReserveBody();
                break;
            case HttpHeadReader::Line::kFolded:
            case HttpHeadReader::Line::kIgnored:
                break;
        }
        return n;
    }

    // A body collected in memory gets the announced length at once instead of
    // growing (and being copied) piece by piece; at most kMaxReservedBody, so
    // a false announcement costs nothing much.
    void ReserveBody() {
        auto value = FindHeader(answer.headers, "Content-Length");
        if (!value) return;
        std::uint64_t length = 0;
        for (char c : *value) {
            if (c < '0' || c > '9' || length > kMaxReservedBody) return;
            length = length * 10 + static_cast<std::uint64_t>(c - '0');
        }
        if (length <= kMaxReservedBody) body->reserve(static_cast<std::size_t>(length));
    }

    static size_t Body(Transfer* t, char* data, size_t n) {
        t->progress = true;
        if (!t->Delivers()) return n;  // the body of a redirect or an error: dropped
        if (t->request->sink) {
            if (!t->request->sink(std::string_view(data, n))) {
                t->refused = true;
                return 0;
            }
        } else {
            t->body->append(data, n);
        }
        return n;
    }

    static int OnConnected(void* userp, char*, char*, int, int) {
        auto* t = static_cast<Transfer*>(userp);
        t->connected = true;
        t->progress = true;
        return CURL_PREREQFUNC_OK;
    }
};

// One call: a request and the hops of its redirects. Send() keeps it on the
// stack; Start() keeps it in the client until the answer is delivered.
struct HttpClient::Call {
    HttpRequest request;
    HttpResponse response;
    std::string current;  // the URL of the hop under way
    std::unique_ptr<Transfer> transfer;
    curl_slist* headers = nullptr;
    void* multi = nullptr;  // the multi handle the easy handle is attached to
    // Time without progress outside the event pump (Send) or in all (Start).
    MonotonicClock::duration waited{};
    MonotonicClock::time_point lastCheck{};
};

// What drives a call of Start(): the thread's event loop watches libcurl's
// sockets (QSocketNotifier) and its timeout (QTimer), and a second timer keeps
// the limits and the abandon check, every kPumpInterval. The multi handle is
// its own, so that Send()'s polling never sees these callbacks.
struct HttpClient::AsyncDriver {
    struct Watch {
        std::unique_ptr<QSocketNotifier> read;
        std::unique_ptr<QSocketNotifier> write;
    };

    HttpClient& client;
    CURLM* multi = curl_multi_init();
    // The context of every connection and queued call: destroyed with the
    // driver, so nothing reaches a client that is gone.
    QObject context;
    QTimer curlTimer;
    QTimer limitTimer;
    std::map<curl_socket_t, Watch> sockets;
    std::unique_ptr<Call> call;
    HttpDone done;
    std::shared_ptr<int> alive = std::make_shared<int>(0);

    explicit AsyncDriver(HttpClient& c) : client(c) {
        curlTimer.setSingleShot(true);
        QObject::connect(&curlTimer, &QTimer::timeout, &context,
                         [this] { Action(CURL_SOCKET_TIMEOUT, 0); });
        limitTimer.setInterval(static_cast<int>(kPumpInterval.count()));
        QObject::connect(&limitTimer, &QTimer::timeout, &context, [this] { CheckLimits(); });
        if (multi) {
            curl_multi_setopt(multi, CURLMOPT_SOCKETFUNCTION, &AsyncDriver::OnSocket);
            curl_multi_setopt(multi, CURLMOPT_SOCKETDATA, this);
            curl_multi_setopt(multi, CURLMOPT_TIMERFUNCTION, &AsyncDriver::OnTimer);
            curl_multi_setopt(multi, CURLMOPT_TIMERDATA, this);
        }
    }

    ~AsyncDriver() {
        if (call) client.Detach(*call);
        sockets.clear();
        if (multi) curl_multi_cleanup(multi);
    }

    static int OnSocket(CURL*, curl_socket_t s, int what, void* userp, void*) {
        auto* d = static_cast<AsyncDriver*>(userp);
        if (what == CURL_POLL_REMOVE) {
            d->Unwatch(s);
            return 0;
        }
        Watch& w = d->sockets[s];
        auto make = [d, s](QSocketNotifier::Type type, int mask) {
            auto n = std::make_unique<QSocketNotifier>(static_cast<qintptr>(s), type);
            QObject::connect(n.get(), &QSocketNotifier::activated, &d->context,
                             [d, s, mask] { d->Action(s, mask); });
            return n;
        };
        const bool in = what == CURL_POLL_IN || what == CURL_POLL_INOUT;
        const bool out = what == CURL_POLL_OUT || what == CURL_POLL_INOUT;
        if (in && !w.read) w.read = make(QSocketNotifier::Read, CURL_CSELECT_IN);
        if (out && !w.write) w.write = make(QSocketNotifier::Write, CURL_CSELECT_OUT);
        if (w.read) w.read->setEnabled(in);
        if (w.write) w.write->setEnabled(out);
        return 0;
    }

    // A notifier may be the one whose signal is being served: it is switched
    // off at once and deleted once control is back in the event loop.
    void Unwatch(curl_socket_t s) {
        auto it = sockets.find(s);
        if (it == sockets.end()) return;
        for (auto* n : {it->second.read.release(), it->second.write.release()}) {
            if (!n) continue;
            n->setEnabled(false);
            QObject::disconnect(n, nullptr, &context, nullptr);
            n->deleteLater();
        }
        sockets.erase(it);
    }

    static int OnTimer(CURLM*, long ms, void* userp) {
        auto* d = static_cast<AsyncDriver*>(userp);
        // libcurl must not be called back from here: the timer fires from the
        // event loop, even for 0 ms.
        if (ms < 0)
            d->curlTimer.stop();
        else
            d->curlTimer.start(static_cast<int>(std::min<long>(ms, 24L * 3600 * 1000)));
        return 0;
    }

    void Action(curl_socket_t s, int mask) {
        if (!call) return;
        int running = 0;
        curl_multi_socket_action(multi, s, mask, &running);
        int queued = 0;
        CURL* easy = Easy(client.easy_);
        while (CURLMsg* msg = curl_multi_info_read(multi, &queued)) {
            if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy) {
                const CURLcode result = msg->data.result;
                std::string error;
                HttpFailure f = client.Outcome(*call->transfer, result, error);
                if (call->transfer->thrown) {
                    f = HttpFailure::kAborted;
                    error = "a callback of the request failed";
                }
                HopEnded(f, std::move(error));
                return;
            }
        }
    }

    void CheckLimits() {
        if (!call) return;
        const auto now = client.clock_.Now();
        call->waited += now - call->lastCheck;
        call->lastCheck = now;
        Transfer& t = *call->transfer;
        if (t.progress) {
            t.progress = false;
            call->waited = {};
        }
        std::string error;
        HttpFailure f = client.LimitReached(*call, error);
        if (f == HttpFailure::kNone && client.abandon_ && client.abandon_())
            f = HttpFailure::kAbandoned;
        if (f != HttpFailure::kNone) HopEnded(f, std::move(error));
    }

    // The hop on the wire ended with f: the next hop goes out, or the call
    // is over and its answer is delivered.
    void HopEnded(HttpFailure f, std::string error) {
        client.Detach(*call);
        while (client.EndHop(*call, f, std::move(error)) == HopEnd::kNext) {
            error.clear();
            f = client.BeginHop(*call, multi, error);
            if (f == HttpFailure::kNone) {
                Attached();
                return;
            }
        }
        Deliver();
    }

    void Attached() {
        call->lastCheck = client.clock_.Now();
        call->waited = {};
        limitTimer.start();
        // libcurl asks for its first timeout through OnTimer.
    }

    // f from the event loop, unless the driver is gone by then. The queued
    // call is the application's, not the driver's: f may destroy the driver.
    template <typename F>
    void Later(F f) {
        std::weak_ptr<int> token = alive;
        QTimer::singleShot(0, QCoreApplication::instance(), [token, f = std::move(f)]() mutable {
            if (!token.expired()) f();
        });
    }

    void Deliver() {
        limitTimer.stop();
        curlTimer.stop();
        // Delivered from the event loop, never from inside a libcurl callback
        // or a notifier's signal: done may destroy the client.
        Later([this] {
            std::unique_ptr<Call> finished = std::move(call);
            HttpDone callback = std::move(done);
            client.busy_ = false;
            if (callback) callback(std::move(finished->response));
        });
    }
};

HttpClient::HttpClient(EventPump& pump, MonotonicClock& clock) : pump_(pump), clock_(clock) {
    GlobalInit();
    multi_ = curl_multi_init();
    easy_ = curl_easy_init();
}

HttpClient::~HttpClient() {
    async_.reset();
    if (easy_) curl_easy_cleanup(Easy(easy_));
    if (multi_) curl_multi_cleanup(Multi(multi_));
}

HttpResponse HttpClient::Get(const std::string& url) {
    HttpRequest request;
    request.url = url;
    return Run(request);
}

HttpResponse HttpClient::Get(const std::string& url, const BodySink& sink) {
    HttpRequest request;
    request.url = url;
    request.sink = sink;
    return Run(request);
}

HttpResponse HttpClient::Head(const std::string& url) {
    HttpRequest request;
    request.url = url;
    request.method = HttpRequest::Method::kHead;
    return Run(request);
}

HttpResponse HttpClient::Send(const HttpRequest& request) { return Run(request); }

bool HttpClient::BeginCall(Call& call) {
    HttpResponse& r = call.response;
    r.finalUrl = call.request.url;
    call.current = call.request.url;
    if (busy_) {
        r.failure = HttpFailure::kBusy;
        r.error = FailureText(r.failure);
        return false;
    }
    if (!multi_ || !easy_) {
        r.failure = HttpFailure::kTransfer;
        r.error = "libcurl could not be set up";
        return false;
    }
    for (const HttpHeader& header : call.request.headers) {
        if (!IsSendableExtraHeader(header)) {
            r.failure = HttpFailure::kBadRequest;
            r.error = "the header \"" + header.name + "\" cannot be sent";
            return false;
        }
    }
    return true;
}

HttpResponse HttpClient::Run(const HttpRequest& request) {
    Call call;
    call.request = request;
    if (!BeginCall(call)) return std::move(call.response);
    busy_ = true;
    struct BusyReset {
        bool& flag;
        ~BusyReset() { flag = false; }
    } reset{busy_};
    struct DetachOnExit {
        HttpClient& client;
        Call& call;
        ~DetachOnExit() { client.Detach(call); }
    } detach{*this, call};

    while (true) {
        std::string error;
        HttpFailure f = BeginHop(call, multi_, error);
        if (f == HttpFailure::kNone) {
            f = Perform(call, error);
            Detach(call);
            if (call.transfer->thrown) std::rethrow_exception(call.transfer->thrown);
        }
        if (EndHop(call, f, std::move(error)) == HopEnd::kDone) return std::move(call.response);
    }
}

void HttpClient::Start(const HttpRequest& request, HttpDone done) {
    if (!async_) async_ = std::make_unique<AsyncDriver>(*this);
    AsyncDriver& d = *async_;
    auto call = std::make_unique<Call>();
    call->request = request;
    if (!d.multi) {
        call->response.failure = HttpFailure::kTransfer;
        call->response.error = "libcurl could not be set up";
    } else if (BeginCall(*call)) {
        if (abandon_ && abandon_()) {
            call->response.failure = HttpFailure::kAbandoned;
            call->response.error = FailureText(HttpFailure::kAbandoned);
        } else {
            busy_ = true;
            d.call = std::move(call);
            d.done = std::move(done);
            std::string error;
            HttpFailure f = BeginHop(*d.call, d.multi, error);
            if (f == HttpFailure::kNone)
                d.Attached();
            else
                d.HopEnded(f, std::move(error));
            return;
        }
    }
    // Refused before anything went out: answered from the event loop all the same.
    auto refused = std::make_shared<HttpResponse>(std::move(call->response));
    d.Later([refused, done = std::move(done)] {
        if (done) done(std::move(*refused));
    });
}

void HttpClient::Cancel() {
    if (!async_) return;
    // The driver goes with its notifiers, timers and queued calls.
    const bool mine = static_cast<bool>(async_->call);
    async_.reset();
    if (mine) busy_ = false;
}

HttpFailure HttpClient::BeginHop(Call& call, void* multi, std::string& error) {
    HttpResponse& r = call.response;
    call.transfer = std::make_unique<Transfer>();
    Transfer& t = *call.transfer;
    t.client = this;
    t.request = &call.request;
    t.body = &r.body;
    t.url = call.current;
    t.answer.url = call.current;
    r.body.clear();
    r.headers.clear();
    r.finalUrl = call.current;
    if (!ParseTarget(call.current, t.target)) {
        error = "bad URL: " + call.current;
        return HttpFailure::kBadUrl;
    }
    if (abandon_ && abandon_()) return HttpFailure::kAbandoned;
    ++r.requests;
    t.onWire = true;
    return Attach(call, multi, error);
}

HttpClient::HopEnd HttpClient::EndHop(Call& call, HttpFailure f, std::string error) {
    HttpResponse& r = call.response;
    Transfer& t = *call.transfer;
    if (!t.onWire) {
        // Refused before it went out (bad URL, abandoned): nothing answered.
        r.failure = f;
        r.error = error.empty() ? FailureText(f) : error;
        return HopEnd::kDone;
    }
    r.status = t.answer.status;
    r.headers = std::move(t.answer.headers);
    if (f != HttpFailure::kNone) {
        r.failure = f;
        r.error = error.empty() ? FailureText(f) : error;
        return HopEnd::kDone;
    }
    curl_off_t length = -1;
    curl_easy_getinfo(Easy(easy_), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    r.contentLength = length >= 0 ? std::optional<std::int64_t>(length) : std::nullopt;

    const int status = r.status;
    if (t.IsRedirect()) {
        r.body.clear();
        r.contentLength.reset();
        if (!followRedirects_) {
            r.failure = HttpFailure::kRedirectRefused;
            r.error = "HTTP " + std::to_string(status) + " redirect not followed";
            return HopEnd::kDone;
        }
        if (r.requests >= kMaxRequestsPerCall) {
            r.failure = HttpFailure::kTooManyRedirects;
            r.error = "more than " + std::to_string(kMaxRequestsPerCall - 1) + " redirects";
            return HopEnd::kDone;
        }
        std::string next;
        char* curlTarget = nullptr;
        if (status >= 300 && status < 400 &&
            curl_easy_getinfo(Easy(easy_), CURLINFO_REDIRECT_URL, &curlTarget) == CURLE_OK &&
            curlTarget)
            next = curlTarget;
        else if (!t.location.empty())
            next = Resolve(call.current, t.location);
        if (next.empty()) {
            r.failure = HttpFailure::kStatus;
            r.error = "HTTP " + std::to_string(status) + " without a usable Location";
            return HopEnd::kDone;
        }
        call.current = next;
        return HopEnd::kNext;
    }
    if (status < 200 || status >= 300) {
        r.body.clear();
        r.failure = HttpFailure::kStatus;
        r.error = "HTTP " + std::to_string(status);
    }
    return HopEnd::kDone;
}

HttpFailure HttpClient::Attach(Call& call, void* multiHandle, std::string& error) {
    Transfer& t = *call.transfer;
    CURL* easy = Easy(easy_);
    CURLM* multi = Multi(multiHandle);

    // The header list starts with an empty "Host:" so libcurl adds no Host line
    // of its own; our Host then goes out in its place in this order. Without
    // CURLOPT_USERAGENT libcurl sends no User-Agent, and our Accept replaces
    // its default one. Cookies are ours (libcurl's engine would put its
    // Cookie line before the custom headers), so Cookie is the last line.
    std::vector<std::string> lines = {
        "Host:",
        "Content-Type: text/html",
        "Host: " + t.target.hostHeader,
        "Accept: text/html, */*",
        "User-Agent: " + userAgent_,
    };
    for (const HttpHeader& header : t.request->headers) {
        // "Name;" is libcurl's way to send a header with an empty value.
        lines.push_back(header.value.empty() ? header.name + ";"
                                             : header.name + ": " + header.value);
    }
    std::string cookie = cookies_.HeaderFor(t.target.host, t.target.path, t.target.scheme == "https");
    if (!cookie.empty()) lines.push_back("Cookie: " + cookie);
    curl_slist* headers = nullptr;
    for (const auto& l : lines) headers = curl_slist_append(headers, l.c_str());
    call.headers = headers;

    curl_easy_setopt(easy, CURLOPT_URL, t.url.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(easy, CURLOPT_PROXY, "");  // no proxy, whatever the environment says
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    // Large bodies (media files) arrive in few, large pieces.
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kReceiveBufferSize);
    if (t.request->method == HttpRequest::Method::kHead) {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 0L);
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    }
    // The limits are kept by the client, outside the time spent in the pump;
    // libcurl's own connect limit is pushed out of the way.
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, 24L * 3600 * 1000);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Transfer::OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &Transfer::OnConnected);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, &t);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, t.errorBuffer);

    if (curl_multi_add_handle(multi, easy) != CURLM_OK) {
        Detach(call);
        error = "libcurl refused the request";
        return HttpFailure::kTransfer;
    }
    call.multi = multi;
    return HttpFailure::kNone;
}

void HttpClient::Detach(Call& call) {
    CURL* easy = Easy(easy_);
    if (call.multi) {
        curl_multi_remove_handle(Multi(call.multi), easy);
        call.multi = nullptr;
    }
    if (call.headers) {
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, nullptr);
        curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, nullptr);
        curl_slist_free_all(call.headers);
        call.headers = nullptr;
    }
}

HttpFailure HttpClient::LimitReached(const Call& call, std::string& error) const {
    const Transfer& t = *call.transfer;
    const milliseconds limit = t.connected ? limits_.stall : limits_.connect;
    if (call.waited < limit) return HttpFailure::kNone;
    if (t.connected) {
        error = "no data for " + std::to_string(limit.count()) + " ms";
        return HttpFailure::kStalled;
    }
    error = "no connection within " + std::to_string(limit.count()) + " ms";
    return HttpFailure::kConnect;
}

HttpFailure HttpClient::Perform(Call& call, std::string& error) {
    Transfer& t = *call.transfer;
    CURL* easy = Easy(easy_);
    CURLM* multi = Multi(multi_);

    call.waited = {};  // time without progress, outside the pump
    CURLcode result = CURLE_OK;
    while (true) {
        const auto begin = clock_.Now();
        int running = 0;
        curl_multi_perform(multi, &running);
        bool done = false;
        int queued = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi, &queued)) {
            if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy) {
                done = true;
                result = msg->data.result;
            }
        }
        if (done) break;
        milliseconds limit = t.connected ? limits_.stall : limits_.connect;
        auto left = std::chrono::duration_cast<milliseconds>(limit - call.waited);
        int wait = static_cast<int>(std::clamp<milliseconds>(left, milliseconds(1), kPumpInterval).count());
        curl_multi_poll(multi, nullptr, 0, wait, nullptr);
        call.waited += clock_.Now() - begin;
        if (t.progress) {
            t.progress = false;
            call.waited = {};
        }
        HttpFailure reached = LimitReached(call, error);
        if (reached != HttpFailure::kNone) return reached;
        pump_.Pump();
        if (abandon_ && abandon_()) return HttpFailure::kAbandoned;
    }
    return Outcome(t, result, error);
}

HttpFailure HttpClient::Outcome(Transfer& t, int code, std::string& error) {
    const auto result = static_cast<CURLcode>(code);
    if (result == CURLE_OK) return HttpFailure::kNone;
    error = t.errorBuffer[0] ? t.errorBuffer : curl_easy_strerror(result);
    switch (result) {
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_URL_MALFORMAT:
            return HttpFailure::kBadUrl;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_CONNECT:
            return HttpFailure::kConnect;
        case CURLE_OPERATION_TIMEDOUT:
            return t.connected ? HttpFailure::kStalled : HttpFailure::kConnect;
        case CURLE_WRITE_ERROR:
            return t.refused ? HttpFailure::kAborted : HttpFailure::kTransfer;
        default:
            return HttpFailure::kTransfer;
    }
}

std::optional<std::string> FindHeader(const HttpHeaders& headers, std::string_view name) {
    for (const HttpHeader& header : headers)
        if (EqualsNoCase(header.name, name)) return header.value;
    return std::nullopt;
}

std::optional<std::string> Utf8ToAnsiInPieces(std::string_view utf8,
                                              const std::function<void()>& serve) {
    if (!serve) return Utf8ToAnsi(utf8);
    constexpr std::size_t kPiece = 512 * 1024;
    std::string ansi;
    ansi.reserve(utf8.size());
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        std::size_t end = std::min(utf8.size(), pos + kPiece);
        // Never between the bytes of one character: back to the byte that
        // starts it (at most three continuation bytes).
        for (int back = 0; back < 3 && end < utf8.size() && end > pos &&
                           (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80;
             ++back)
            --end;
        std::optional<std::string> piece = Utf8ToAnsi(utf8.substr(pos, end - pos));
        if (!piece) return std::nullopt;
        ansi += *piece;
        pos = end;
        if (pos < utf8.size()) serve();
    }
    return ansi;
}

HttpText HttpGetTextDetailed(HttpClient& client, const std::string& url) noexcept {
    return HttpGetTextDetailed(client, url, {});
}

HttpText HttpGetTextDetailed(HttpClient& client, const std::string& url,
                             const std::function<void()>& serve) noexcept {
    HttpText text;
    try {
        client.SetFollowRedirects(true);
        client.SetUserAgent(kFetchUserAgent);
        HttpResponse r = client.Get(url);
        if (!r.ok()) {
            text.failure = r.failure;
            text.error = r.error;
            return text;
        }
        std::optional<std::string> ansi = Utf8ToAnsiInPieces(r.body, serve);
        if (!ansi) {
            text.notUtf8 = true;
            text.error = "the answer is not valid UTF-8";
            return text;
        }
        text.ansi = std::move(*ansi);
        text.utf8 = std::move(r.body);
    } catch (...) {
        text = HttpText{};
        text.failure = HttpFailure::kTransfer;
        text.error = "out of memory";
    }
    return text;
}

std::optional<std::string> HostHeaderFor(const std::string& url) {
    GlobalInit();
    Target t;
    if (!ParseTarget(url, t)) return std::nullopt;
    return t.hostHeader;
}

std::string HttpGetText(HttpClient& client, const std::string& url) noexcept {
    return HttpGetTextDetailed(client, url).ansi;
}

}  // namespace zorvak
