#include "platform/route_table.h"

#include <cstdlib>
#include <sstream>
#include <vector>

namespace zorvak {

namespace {

constexpr unsigned long kRouteUp = 0x0001;      // RTF_UP
constexpr unsigned long kRouteReject = 0x0200;  // RTF_REJECT

std::vector<std::string> Fields(std::string_view line) {
    std::istringstream in{std::string(line)};
    std::vector<std::string> out;
    for (std::string f; in >> f;) out.push_back(f);
    return out;
}

bool Hex(const std::string& text, unsigned long& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    value = std::strtoul(text.c_str(), &end, 16);
    return end && *end == '\0';
}

template <typename LineFn>
bool AnyLine(std::string_view text, LineFn fn) {
    while (!text.empty()) {
        auto nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        if (fn(Fields(line))) return true;
        if (nl == std::string_view::npos) break;
        text.remove_prefix(nl + 1);
    }
    return false;
}

bool Usable(const std::string& iface, unsigned long flags,
            const std::function<bool(const std::string&)>& usable) {
    return (flags & kRouteUp) && !(flags & kRouteReject) && iface != "lo" && usable(iface);
}

}  // namespace

bool HasDefaultRouteIPv4(std::string_view procNetRoute,
                         const std::function<bool(const std::string&)>& usable) {
    // Iface Destination Gateway Flags RefCnt Use Metric Mask MTU Window IRTT
    return AnyLine(procNetRoute, [&](const std::vector<std::string>& f) {
        unsigned long dest = 1, flags = 0, mask = 1;
        if (f.size() < 8 || !Hex(f[1], dest) || !Hex(f[3], flags) || !Hex(f[7], mask))
            return false;
        return dest == 0 && mask == 0 && Usable(f[0], flags, usable);
    });
}

bool HasDefaultRouteIPv6(std::string_view procNetIpv6Route,
                         const std::function<bool(const std::string&)>& usable) {
    // dest plen src plen nexthop metric refcnt use flags iface
    return AnyLine(procNetIpv6Route, [&](const std::vector<std::string>& f) {
        unsigned long flags = 0;
        if (f.size() < 10 || !Hex(f[8], flags)) return false;
        return f[0] == std::string(32, '0') && f[1] == "00" && Usable(f[9], flags, usable);
    });
}

}  // namespace zorvak
