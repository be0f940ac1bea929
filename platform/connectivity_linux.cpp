// IsOnline on Linux: a default route (IPv4 or IPv6) through a non-loopback
// interface that is up and running. Reads the kernel's tables; sends nothing.
#include <ifaddrs.h>
#include <net/if.h>

#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "platform/platform.h"
#include "platform/route_table.h"

namespace zorvak {

namespace {

std::string ReadAll(const char* path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Names of the interfaces that are up and running and not loopback.
std::set<std::string> RunningInterfaces() {
    std::set<std::string> names;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return names;
    for (ifaddrs* a = list; a; a = a->ifa_next) {
        unsigned flags = a->ifa_flags;
        if (a->ifa_name && (flags & IFF_UP) && (flags & IFF_RUNNING) && !(flags & IFF_LOOPBACK))
            names.insert(a->ifa_name);
    }
    freeifaddrs(list);
    return names;
}

class LinuxConnectivity final : public Connectivity {
public:
    bool IsOnline() override {
        std::set<std::string> running = RunningInterfaces();
        auto usable = [&](const std::string& name) { return running.count(name) > 0; };
        return HasDefaultRouteIPv4(ReadAll("/proc/net/route"), usable) ||
               HasDefaultRouteIPv6(ReadAll("/proc/net/ipv6_route"), usable);
    }
};

}  // namespace

std::unique_ptr<Connectivity> CreateConnectivity() { return std::make_unique<LinuxConnectivity>(); }

}  // namespace zorvak
