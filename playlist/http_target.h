#pragma once

#include <optional>
#include <string>

#include "playlist/http_head.h"

namespace zorvak {

// The parts of a request URL that the HTTP client writes into its own
// headers and keeps cookies by.
struct HttpTarget {
    std::string scheme;      // "http" or "https", lower case
    std::string hostHeader;  // the Host header's value: host, and ":port" unless the scheme's default
    std::string host;        // for cookies
    std::string path;        // without the query, for cookies; "/" when the URL has none
};

// The target of url; nullopt for a URL the client cannot request (malformed,
// not http or https, no host).
std::optional<HttpTarget> ParseHttpTarget(const std::string& url);

// location (a Location header) resolved against base, the URL it came from;
// empty when it cannot be.
std::string ResolveLocation(const std::string& base, const std::string& location);

// Whether header may go out as an extra header of a request: a name of
// visible ASCII other than ":", not one the client writes itself (Host,
// Content-Type, Accept, User-Agent, Cookie, compared without case), and a
// value without CR, LF or NUL.
bool IsSendableExtraHeader(const HttpHeader& header);

}  // namespace zorvak
