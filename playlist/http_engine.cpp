// The steps every request of HttpClient takes, whichever driver waits for it.
#include "http_engine.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "core/text.h"

namespace zorvak {

namespace {

using std::chrono::milliseconds;

constexpr long kReceiveBufferSize = 512L * 1024;
constexpr std::uint64_t kMaxReservedBody = 256ull * 1024 * 1024;

}  // namespace

void CurlGlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
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
        case HttpFailure::kTimedOut: return "the request took too long";
    }
    return "";
}

bool HttpClient::Transfer::IsRedirect() const {
    const int status = answer.status;
    if (status == 304) return false;
    if (status >= 300 && status < 400) return true;
    return request->followRedirects && !location.empty();
}

size_t HttpClient::Transfer::OnHeader(char* data, size_t size, size_t count, void* userp) {
    auto* t = static_cast<Transfer*>(userp);
    try {
        return t->Header(data, size * count);
    } catch (...) {
        t->thrown = std::current_exception();
        return 0;
    }
}

size_t HttpClient::Transfer::OnBody(char* data, size_t size, size_t count, void* userp) {
    auto* t = static_cast<Transfer*>(userp);
    try {
        return t->Body(data, size * count);
    } catch (...) {
        t->thrown = std::current_exception();
        return 0;
    }
}

int HttpClient::Transfer::OnConnected(void* userp, char*, char*, int, int) {
    auto* t = static_cast<Transfer*>(userp);
    t->connected = true;
    t->progress = true;
    return CURL_PREREQFUNC_OK;
}

size_t HttpClient::Transfer::Header(char* data, size_t n) {
    progress = true;
    switch (head.Feed(std::string_view(data, n))) {
        case HttpHeadReader::Line::kStatus:
            location.clear();
            break;
        case HttpHeadReader::Line::kHeader: {
            const HttpHeader& header = answer.headers.back();
            if (EqualsNoCase(header.name, "Location"))
                location = header.value;
            else if (EqualsNoCase(header.name, "Set-Cookie"))
                client->cookies_.Store(header.value, target.host, target.path);
            break;
        }
        case HttpHeadReader::Line::kEnd:
            if (head.HeadDone() && Delivers() && request->onAnswer && !request->onAnswer(answer)) {
                refused = true;
                return 0;
            }
            if (head.HeadDone() && Delivers() && !request->sink) ReserveBody();
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
void HttpClient::Transfer::ReserveBody() {
    auto value = FindHeader(answer.headers, "Content-Length");
    if (!value) return;
    std::uint64_t length = 0;
    for (char c : *value) {
        if (c < '0' || c > '9' || length > kMaxReservedBody) return;
        length = length * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (length <= kMaxReservedBody) body->reserve(static_cast<std::size_t>(length));
}

size_t HttpClient::Transfer::Body(char* data, size_t n) {
    progress = true;
    bodyBytes += n;
    if (!Delivers()) return n;  // the body of a redirect or an error: dropped
    if (request->sink) {
        if (!request->sink(std::string_view(data, n))) {
            refused = true;
            return 0;
        }
    } else {
        body->append(data, n);
    }
    return n;
}

HttpClient::HttpClient(EventPump& pump, MonotonicClock& clock) : pump_(pump), clock_(clock) {
    CurlGlobalInit();
    multi_ = curl_multi_init();
    easy_ = curl_easy_init();
}

HttpClient::~HttpClient() {
    async_.reset();
    if (easy_) curl_easy_cleanup(Easy(easy_));
    if (multi_) curl_multi_cleanup(Multi(multi_));
}

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
    std::optional<HttpTarget> target = ParseHttpTarget(call.current);
    if (!target) {
        error = "bad URL: " + call.current;
        return HttpFailure::kBadUrl;
    }
    t.target = std::move(*target);
    call.slowTime = {};
    call.slowFrom = 0;
    if (Abandoned()) return HttpFailure::kAbandoned;
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
        if (!call.request.followRedirects) {
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
            next = ResolveLocation(call.current, t.location);
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
        "User-Agent: " + t.request->userAgent,
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

HttpFailure HttpClient::CountTime(Call& call, MonotonicClock::duration counted,
                                  std::string& error) const {
    Transfer& t = *call.transfer;
    call.waited += counted;
    call.total += counted;
    if (t.progress) {
        t.progress = false;
        call.waited = {};
    }
    const milliseconds limit = t.connected ? limits_.stall : limits_.connect;
    if (call.waited >= limit) {
        if (t.connected) {
            error = "no data for " + std::to_string(limit.count()) + " ms";
            return HttpFailure::kStalled;
        }
        error = "no connection within " + std::to_string(limit.count()) + " ms";
        return HttpFailure::kConnect;
    }
    if (limits_.lowSpeed > 0 && t.bodyBytes > 0) {
        call.slowTime += counted;
        const std::uint64_t needed =
            limits_.lowSpeed * static_cast<std::uint64_t>(limits_.lowSpeedTime.count()) / 1000;
        if (t.bodyBytes - call.slowFrom >= needed) {
            call.slowFrom = t.bodyBytes;
            call.slowTime = {};
        } else if (call.slowTime >= limits_.lowSpeedTime) {
            error = "less than " + std::to_string(limits_.lowSpeed) + " bytes a second over " +
                    std::to_string(limits_.lowSpeedTime.count()) + " ms";
            return HttpFailure::kStalled;
        }
    }
    if (call.request.timeLimit && call.total >= *call.request.timeLimit) {
        error = "the request took longer than " + std::to_string(call.request.timeLimit->count()) +
                " ms";
        return HttpFailure::kTimedOut;
    }
    return HttpFailure::kNone;
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

}  // namespace zorvak
