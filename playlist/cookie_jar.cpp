#include "playlist/cookie_jar.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>

#include "core/text.h"

namespace zorvak {

namespace {

bool IsIpAddress(std::string_view host) {
    if (host.find(':') != std::string_view::npos || (!host.empty() && host.front() == '['))
        return true;
    return !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
        return (c >= '0' && c <= '9') || c == '.';
    });
}

// host equals domain, or ends with "." + domain and is a name, not an address.
bool DomainMatches(std::string_view host, std::string_view domain) {
    if (host == domain) return true;
    if (IsIpAddress(host) || host.size() <= domain.size()) return false;
    return host.substr(host.size() - domain.size()) == domain &&
           host[host.size() - domain.size() - 1] == '.';
}

bool PathMatches(std::string_view requestPath, std::string_view cookiePath) {
    if (requestPath == cookiePath) return true;
    if (requestPath.substr(0, cookiePath.size()) != cookiePath) return false;
    return cookiePath.back() == '/' || requestPath[cookiePath.size()] == '/';
}

std::string DefaultPath(std::string_view path) {
    if (path.empty() || path.front() != '/') return "/";
    auto slash = path.rfind('/');
    if (slash == 0) return "/";
    return std::string(path.substr(0, slash));
}

// now + seconds; an instant past the clock's range is held at its end instead
// of overflowing.
CookieJar::TimePoint LaterBy(CookieJar::TimePoint now, long long seconds) {
    using std::chrono::duration_cast;
    const auto room = duration_cast<std::chrono::seconds>(CookieJar::TimePoint::max() - now);
    if (seconds >= room.count()) return CookieJar::TimePoint::max();
    return now + std::chrono::seconds(seconds);
}

// A time_t as a time point, held at the clock's range (which ends in 2262).
CookieJar::TimePoint FromTimeT(std::time_t t) {
    using std::chrono::duration_cast;
    using TimePoint = CookieJar::TimePoint;
    const auto last = duration_cast<std::chrono::seconds>(TimePoint::max().time_since_epoch());
    const auto first = duration_cast<std::chrono::seconds>(TimePoint::min().time_since_epoch());
    if (t >= last.count()) return TimePoint::max();
    if (t <= first.count()) return TimePoint::min();
    return std::chrono::system_clock::from_time_t(t);
}

}  // namespace

void CookieJar::Store(std::string_view setCookie, std::string_view host, std::string_view path,
                      TimePoint now) {
    std::string_view rest = setCookie;
    auto semi = rest.find(';');
    std::string_view pair = Trim(rest.substr(0, semi));
    auto eq = pair.find('=');
    if (eq == std::string_view::npos) return;
    Cookie c;
    c.name = std::string(Trim(pair.substr(0, eq)));
    c.value = std::string(Trim(pair.substr(eq + 1)));
    if (c.name.empty()) return;
    // A name or value holding a control character (a NUL, a line end) would
    // go back to the server inside a later request's Cookie header: refused.
    auto control = [](char ch) {
        const auto byte = static_cast<unsigned char>(ch);
        return byte < 0x20 || byte == 0x7F;
    };
    if (std::any_of(c.name.begin(), c.name.end(), control) ||
        std::any_of(c.value.begin(), c.value.end(), control))
        return;
    std::string requestHost = ToLowerAscii(host);
    c.domain = requestHost;
    c.path = DefaultPath(path);
    std::optional<TimePoint> maxAgeExpiry, dateExpiry;

    while (semi != std::string_view::npos) {
        rest.remove_prefix(semi + 1);
        semi = rest.find(';');
        std::string_view attr = Trim(rest.substr(0, semi));
        auto aeq = attr.find('=');
        std::string name = ToLowerAscii(Trim(attr.substr(0, aeq)));
        std::string_view value = aeq == std::string_view::npos ? "" : Trim(attr.substr(aeq + 1));
        if (name == "domain" && !value.empty()) {
            while (!value.empty() && value.front() == '.') value.remove_prefix(1);
            std::string domain = ToLowerAscii(value);
            if (domain.empty() || !DomainMatches(requestHost, domain)) return;
            c.domain = domain;
            c.hostOnly = false;
        } else if (name == "path") {
            c.path = (!value.empty() && value.front() == '/') ? std::string(value) : DefaultPath(path);
        } else if (name == "secure") {
            c.secure = true;
        } else if (name == "max-age" && !value.empty()) {
            char* end = nullptr;
            std::string text(value);
            long long seconds = std::strtoll(text.c_str(), &end, 10);
            if (end && *end == '\0')
                maxAgeExpiry = seconds <= 0 ? TimePoint::min() : LaterBy(now, seconds);
        } else if (name == "expires" && !value.empty()) {
            std::string text(value);
            time_t t = curl_getdate(text.c_str(), nullptr);
            if (t != -1) dateExpiry = FromTimeT(t);
        }
    }
    c.expires = maxAgeExpiry ? maxAgeExpiry : dateExpiry;

    auto same = std::find_if(cookies_.begin(), cookies_.end(), [&](const Cookie& old) {
        return old.name == c.name && old.domain == c.domain && old.path == c.path;
    });
    if (c.expires && *c.expires <= now) {
        if (same != cookies_.end()) cookies_.erase(same);
        return;
    }
    if (same != cookies_.end()) {
        c.serial = same->serial;
        *same = std::move(c);
    } else {
        c.serial = nextSerial_++;
        cookies_.push_back(std::move(c));
    }
}

std::string CookieJar::HeaderFor(std::string_view host, std::string_view path, bool secure,
                                 TimePoint now) const {
    std::string requestHost = ToLowerAscii(host);
    std::string_view requestPath = path.empty() ? std::string_view("/") : path;
    std::vector<const Cookie*> matching;
    for (const auto& c : cookies_) {
        if (c.expires && *c.expires <= now) continue;
        if (c.secure && !secure) continue;
        bool hostOk = c.hostOnly ? requestHost == c.domain : DomainMatches(requestHost, c.domain);
        if (!hostOk || !PathMatches(requestPath, c.path)) continue;
        matching.push_back(&c);
    }
    std::stable_sort(matching.begin(), matching.end(), [](const Cookie* a, const Cookie* b) {
        if (a->path.size() != b->path.size()) return a->path.size() > b->path.size();
        return a->serial < b->serial;
    });
    std::string header;
    for (const Cookie* c : matching) {
        if (!header.empty()) header += "; ";
        header += c->name + "=" + c->value;
    }
    return header;
}

}  // namespace zorvak
