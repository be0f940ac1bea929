#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/platform.h"
#include "platform/route_table.h"
#include "tests/support/child_process.h"

namespace zorvak {
namespace {

const char* kHeader =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";

TEST(RouteTable, IPv4DefaultRouteThroughARunningInterface) {
    auto up = [](const std::string& name) { return name == "eth0" || name == "wlan0"; };
    struct {
        const char* name;
        std::string table;
        bool online;
    } cases[] = {
        {"default via eth0",
         std::string(kHeader) + "eth0\t00000000\t010200C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n"
                                "eth0\t000200C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n",
         true},
        {"only a local subnet",
         std::string(kHeader) + "eth0\t000200C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n", false},
        {"default via an interface that is down",
         std::string(kHeader) + "eth1\t00000000\t010200C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n", false},
        {"default route not up",
         std::string(kHeader) + "eth0\t00000000\t010200C0\t0002\t0\t0\t0\t00000000\t0\t0\t0\n", false},
        {"reject route",
         std::string(kHeader) + "eth0\t00000000\t00000000\t0201\t0\t0\t0\t00000000\t0\t0\t0\n", false},
        {"default via loopback",
         std::string(kHeader) + "lo\t00000000\t00000000\t0001\t0\t0\t0\t00000000\t0\t0\t0\n", false},
        {"second line is the default",
         std::string(kHeader) + "eth1\t00000000\t010200C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n"
                                "wlan0\t00000000\t010200C0\t0003\t0\t0\t600\t00000000\t0\t0\t0",
         true},
        {"empty table", kHeader, false},
        {"no file", "", false},
        {"garbage", "eth0 zz yy\n\n\t\n", false},
    };
    for (const auto& c : cases) EXPECT_EQ(HasDefaultRouteIPv4(c.table, up), c.online) << c.name;
}

TEST(RouteTable, IPv6DefaultRoute) {
    auto up = [](const std::string& name) { return name == "eth0"; };
    const std::string zero(32, '0');
    const std::string loReject = zero + " 00 " + zero + " 00 " + zero +
                                 " ffffffff 00000001 00000000 00200200       lo\n";
    const std::string local = "fe800000000000000000000000000000 40 " + zero + " 00 " + zero +
                              " 00000100 00000002 00000000 00000001     eth0\n";
    const std::string viaEth0 = zero + " 00 " + zero + " 00 fd000000000000000000000000000001"
                                " 00000400 00000002 00000000 00000003     eth0\n";
    EXPECT_TRUE(HasDefaultRouteIPv6(local + viaEth0 + loReject, up));
    EXPECT_FALSE(HasDefaultRouteIPv6(local + loReject, up));
    EXPECT_FALSE(HasDefaultRouteIPv6(viaEth0, [](const std::string&) { return false; }));
}

// What the child below reports through its exit code.
enum NamespaceStep : int {
    kAllAnswered = 0,
    kNotPermitted = 2,
    kNoNamespace = 3,
    kOnlineWithLoopbackOnly = 10,
    kCommandFailed = 11,
    kOnlineWithoutDefaultRoute = 12,
    kOfflineWithDefaultRoute = 13,
    kOnlineWithoutCarrier = 14,
    kOfflineWithCarrierBack = 15,
    kOnlineAfterRouteRemoved = 16,
    kOfflineWithIPv6DefaultRoute = 17,
    kOnlineAfterIPv6RouteRemoved = 18,
};

std::string Describe(int step) {
    switch (step) {
    case kNoNamespace: return "unshare(CLONE_NEWNET) failed";
    case kOnlineWithLoopbackOnly: return "online with loopback only";
    case kCommandFailed: return "an ip command failed (is iproute2 installed?)";
    case kOnlineWithoutDefaultRoute: return "online with a running interface but no default route";
    case kOfflineWithDefaultRoute: return "offline with a default route through a running interface";
    case kOnlineWithoutCarrier: return "online although the route's interface lost its carrier";
    case kOfflineWithCarrierBack: return "offline after the carrier came back";
    case kOnlineAfterRouteRemoved: return "online after the default route was removed";
    case kOfflineWithIPv6DefaultRoute: return "offline with an IPv6 default route";
    case kOnlineAfterIPv6RouteRemoved: return "online after the IPv6 default route was removed";
    default: return "exit code " + std::to_string(step);
    }
}

// Whether IsOnline gives wanted within 5 s (links take a moment to change).
bool Answers(bool wanted) {
    std::unique_ptr<Connectivity> connectivity = CreateConnectivity();
    for (int i = 0; i < 100; ++i) {
        if (connectivity->IsOnline() == wanted) return true;
        ::usleep(50 * 1000);
    }
    return false;
}

// Runs in a child process: a network namespace of its own, with loopback
// only, then a veth pair (zvk0, its peer zvk1) and routes through zvk0.
NamespaceStep AnswersInOwnNetworkNamespace() {
    if (::unshare(CLONE_NEWNET) != 0) return errno == EPERM ? kNotPermitted : kNoNamespace;
    auto ip = [](const char* command) {
        return std::system((std::string(command) + " >/dev/null").c_str()) == 0;
    };
    if (!ip("ip link set lo up")) return kCommandFailed;
    if (CreateConnectivity()->IsOnline()) return kOnlineWithLoopbackOnly;
    if (!ip("ip link add zvk0 type veth peer name zvk1 && ip link set zvk0 up && "
            "ip link set zvk1 up"))
        return kCommandFailed;
    // Running interfaces, no default route.
    if (!Answers(false)) return kOnlineWithoutDefaultRoute;
    if (!ip("ip route add default dev zvk0")) return kCommandFailed;
    if (!Answers(true)) return kOfflineWithDefaultRoute;
    // The peer goes down: zvk0 is still up but no longer running; the route stays.
    if (!ip("ip link set zvk1 down")) return kCommandFailed;
    if (!Answers(false)) return kOnlineWithoutCarrier;
    if (!ip("ip link set zvk1 up")) return kCommandFailed;
    if (!Answers(true)) return kOfflineWithCarrierBack;
    if (!ip("ip route del default dev zvk0")) return kCommandFailed;
    if (!Answers(false)) return kOnlineAfterRouteRemoved;
    if (!ip("ip -6 route add default dev zvk0")) return kCommandFailed;
    if (!Answers(true)) return kOfflineWithIPv6DefaultRoute;
    if (!ip("ip -6 route del default dev zvk0")) return kCommandFailed;
    if (!Answers(false)) return kOnlineAfterIPv6RouteRemoved;
    return kAllAnswered;
}

// The machine's own answer, from its kernel's tables, in a network namespace
// the test makes for a child process: nothing outside it is touched.
TEST(LinuxConnectivity, FollowsTheDefaultRouteOfItsNetworkNamespace) {
    test::ChildProcess child = test::ChildProcess::Fork([] { return int(AnswersInOwnNetworkNamespace()); });
    ASSERT_TRUE(child.Started());
    child.Wait();
    const int status = child.Status();
    ASSERT_TRUE(WIFEXITED(status)) << "the child ended with status " << status;
    if (WEXITSTATUS(status) == kNotPermitted)
        GTEST_SKIP() << "unshare(CLONE_NEWNET) is not permitted (EPERM): a network namespace "
                        "of its own needs root";
    EXPECT_EQ(WEXITSTATUS(status), kAllAnswered) << Describe(WEXITSTATUS(status));
}

}  // namespace
}  // namespace zorvak
