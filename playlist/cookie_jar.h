#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zorvak {

// The cookies of one HTTP client, kept in memory for the client's life. Set-
// Cookie values are stored against the host and path of the request that
// received them, and sent back on later requests whose host and path they
// match (host-only or domain cookies, path prefix, Secure only over https).
// Expires and Max-Age are honoured; a cookie in the past removes a stored one.
class CookieJar {
public:
    using TimePoint = std::chrono::system_clock::time_point;

    // Stores one Set-Cookie header value received from host for path
    // (the request path without its query). Malformed values, names or values
    // holding a control character, and cookies for a domain that host does not
    // belong to are ignored.
    void Store(std::string_view setCookie, std::string_view host, std::string_view path,
               TimePoint now = std::chrono::system_clock::now());

    // The Cookie header value for a request ("a=1; b=2"), empty when no
    // cookie matches. Longer paths first, then older cookies first.
    std::string HeaderFor(std::string_view host, std::string_view path, bool secure,
                          TimePoint now = std::chrono::system_clock::now()) const;

    std::size_t Size() const { return cookies_.size(); }

private:
    struct Cookie {
        std::string name;
        std::string value;
        std::string domain;  // lower case, no leading dot
        std::string path;
        bool hostOnly = true;
        bool secure = false;
        std::optional<TimePoint> expires;
        std::uint64_t serial = 0;  // order of first creation
    };

    std::vector<Cookie> cookies_;
    std::uint64_t nextSerial_ = 1;
};

}  // namespace zorvak
