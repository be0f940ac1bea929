#include "playlist/http_target.h"

#include <curl/curl.h>

#include <string_view>

#include "core/text.h"
#include "http_engine.h"

namespace zorvak {

namespace {

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

// Headers the client writes on every request itself.
constexpr std::string_view kClientHeaders[] = {"Host", "Content-Type", "Accept", "User-Agent",
                                               "Cookie"};

}  // namespace

std::optional<HttpTarget> ParseHttpTarget(const std::string& url) {
    CurlGlobalInit();
    CurlUrl u;
    if (curl_url_set(u.h, CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) return std::nullopt;
    HttpTarget t;
    t.scheme = ToLowerAscii(u.Get(CURLUPART_SCHEME));
    if (t.scheme != "http" && t.scheme != "https") return std::nullopt;
    t.host = u.Get(CURLUPART_HOST);
    if (t.host.empty()) return std::nullopt;
    std::string port = u.Get(CURLUPART_PORT, CURLU_DEFAULT_PORT);
    std::string defaultPort = t.scheme == "https" ? "443" : "80";
    t.hostHeader = t.host;
    if (!port.empty() && port != defaultPort) t.hostHeader += ":" + port;
    t.path = u.Get(CURLUPART_PATH);
    if (t.path.empty()) t.path.push_back('/');
    return t;
}

std::string ResolveLocation(const std::string& base, const std::string& location) {
    CurlUrl u;
    if (curl_url_set(u.h, CURLUPART_URL, base.c_str(), 0) != CURLUE_OK) return {};
    if (curl_url_set(u.h, CURLUPART_URL, location.c_str(), CURLU_URLENCODE | CURLU_ALLOW_SPACE) !=
        CURLUE_OK)
        return {};
    return u.Get(CURLUPART_URL);
}

bool IsSendableExtraHeader(const HttpHeader& header) {
    if (header.name.empty()) return false;
    for (char c : header.name)
        if (c <= ' ' || c > '~' || c == ':') return false;
    for (std::string_view own : kClientHeaders)
        if (EqualsNoCase(header.name, own)) return false;
    return header.value.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos;
}

}  // namespace zorvak
