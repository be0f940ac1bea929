#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace zorvak {

// Whether a routing table in the text form of /proc/net/route (IPv4) or
// /proc/net/ipv6_route (IPv6) holds a default route that is up, not a reject
// route, and goes through an interface other than "lo" for which usable(name)
// answers true. Lines that do not parse are skipped.
bool HasDefaultRouteIPv4(std::string_view procNetRoute,
                         const std::function<bool(const std::string&)>& usable);
bool HasDefaultRouteIPv6(std::string_view procNetIpv6Route,
                         const std::function<bool(const std::string&)>& usable);

}  // namespace zorvak
