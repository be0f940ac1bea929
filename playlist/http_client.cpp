#include "playlist/http_client.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <vector>

#include "core/text_encoding.h"

namespace zorvak {

namespace {

using std::chrono::milliseconds;

constexpr long kReceiveBufferSize = 512L * 1024;

CURLM* Multi(void* p) { return static_cast<CURLM*>(p); }
CURL* Easy(void* p) { return static_cast<CURL*>(p); }

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(s[i])) !=
            std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && StartsWithNoCase(a, b);
}

std::string_view TrimLine(std::string_view s) {
    while (!s.empty() && (s.back() == '\r' || s.back() == '\n' || s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    return s;
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
    t.scheme = u.Get(CURLUPART_SCHEME);
    for (auto& c : t.scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
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
    std::string cleaned(TrimLine(line));
    for (char& c : cleaned)
        if (c == '\r' || c == '\n' || c == '\0') c = ' ';
    std::string_view content = TrimLine(cleaned);
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
        {std::string(content.substr(0, colon)), std::string(TrimLine(content.substr(colon + 1)))});
    return Line::kHeader;
}

// State of one request on the wire (one hop of a redirect chain).
struct HttpClient::Transfer {
    HttpClient* client = nullptr;
    const HttpRequest* request = nullptr;
    std::string* body = nullptr;
    std::string url;
    Target target;

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
                break;
            case HttpHeadReader::Line::kFolded:
            case HttpHeadReader::Line::kIgnored:
                break;
        }
        return n;
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

HttpClient::HttpClient(EventPump& pump, MonotonicClock& clock) : pump_(pump), clock_(clock) {
    GlobalInit();
    multi_ = curl_multi_init();
    easy_ = curl_easy_init();
}

HttpClient::~HttpClient() {
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

HttpResponse HttpClient::Run(const HttpRequest& request) {
    HttpResponse r;
    r.finalUrl = request.url;
    if (busy_) {
        r.failure = HttpFailure::kBusy;
        r.error = FailureText(r.failure);
        return r;
    }
    if (!multi_ || !easy_) {
        r.failure = HttpFailure::kTransfer;
        r.error = "libcurl could not be set up";
        return r;
    }

    for (const HttpHeader& header : request.headers) {
        if (!IsSendableExtraHeader(header)) {
            r.failure = HttpFailure::kBadRequest;
            r.error = "the header \"" + header.name + "\" cannot be sent";
            return r;
        }
    }
    busy_ = true;
    struct BusyReset {
        bool& flag;
        ~BusyReset() { flag = false; }
    } reset{busy_};

    std::string current = request.url;
    while (true) {
        Transfer t;
        t.client = this;
        t.request = &request;
        t.body = &r.body;
        t.url = current;
        t.answer.url = current;
        r.body.clear();
        r.headers.clear();
        r.finalUrl = current;
        if (!ParseTarget(current, t.target)) {
            r.failure = HttpFailure::kBadUrl;
            r.error = "bad URL: " + current;
            return r;
        }
        if (abandon_ && abandon_()) {
            r.failure = HttpFailure::kAbandoned;
            r.error = FailureText(r.failure);
            return r;
        }
        ++r.requests;
        std::string error;
        HttpFailure f = Perform(t, error);
        r.status = t.answer.status;
        r.headers = std::move(t.answer.headers);
        if (f != HttpFailure::kNone) {
            r.failure = f;
            r.error = error.empty() ? FailureText(f) : error;
            return r;
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
                return r;
            }
            if (r.requests >= kMaxRequestsPerCall) {
                r.failure = HttpFailure::kTooManyRedirects;
                r.error = "more than " + std::to_string(kMaxRequestsPerCall - 1) + " redirects";
                return r;
            }
            std::string next;
            char* curlTarget = nullptr;
            if (status >= 300 && status < 400 &&
                curl_easy_getinfo(Easy(easy_), CURLINFO_REDIRECT_URL, &curlTarget) == CURLE_OK &&
                curlTarget)
                next = curlTarget;
            else if (!t.location.empty())
                next = Resolve(current, t.location);
            if (next.empty()) {
                r.failure = HttpFailure::kStatus;
                r.error = "HTTP " + std::to_string(status) + " without a usable Location";
                return r;
            }
            current = next;
            continue;
        }
        if (status < 200 || status >= 300) {
            r.body.clear();
            r.failure = HttpFailure::kStatus;
            r.error = "HTTP " + std::to_string(status);
            return r;
        }
        return r;
    }
}

HttpFailure HttpClient::Perform(Transfer& t, std::string& error) {
    CURL* easy = Easy(easy_);
    CURLM* multi = Multi(multi_);

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
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headerGuard(headers,
                                                                           &curl_slist_free_all);

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
    // The limits are kept below, outside the time spent in the pump; libcurl's
    // own connect limit is pushed out of the way.
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, 24L * 3600 * 1000);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Transfer::OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &Transfer::OnConnected);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, &t);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, t.errorBuffer);

    if (curl_multi_add_handle(multi, easy) != CURLM_OK) {
        error = "libcurl refused the request";
        return HttpFailure::kTransfer;
    }
    struct Detach {
        CURLM* multi;
        CURL* easy;
        ~Detach() {
            curl_multi_remove_handle(multi, easy);
            curl_easy_setopt(easy, CURLOPT_HTTPHEADER, nullptr);
            curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, nullptr);
        }
    } detach{multi, easy};

    MonotonicClock::duration waited{};  // time without progress, outside the pump
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
        auto left = std::chrono::duration_cast<milliseconds>(limit - waited);
        int wait = static_cast<int>(std::clamp<milliseconds>(left, milliseconds(1), kPumpInterval).count());
        curl_multi_poll(multi, nullptr, 0, wait, nullptr);
        waited += clock_.Now() - begin;
        if (t.progress) {
            t.progress = false;
            waited = {};
        }
        limit = t.connected ? limits_.stall : limits_.connect;
        if (waited >= limit) {
            if (t.connected) {
                error = "no data for " + std::to_string(limit.count()) + " ms";
                return HttpFailure::kStalled;
            }
            error = "no connection within " + std::to_string(limit.count()) + " ms";
            return HttpFailure::kConnect;
        }
        pump_.Pump();
        if (abandon_ && abandon_()) return HttpFailure::kAbandoned;
    }

    if (t.thrown) std::rethrow_exception(t.thrown);
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

HttpText HttpGetTextDetailed(HttpClient& client, const std::string& url) noexcept {
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
        std::optional<std::string> ansi = Utf8ToAnsi(r.body);
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
