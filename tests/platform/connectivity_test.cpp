#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "platform/route_table.h"

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

TEST(RouteTable, TheMachinesAnswerIsABoolean) {
    // The real answer depends on the machine; only that asking works.
    auto connectivity = CreateConnectivity();
    ASSERT_NE(connectivity, nullptr);
    (void)connectivity->IsOnline();
}

}  // namespace
}  // namespace zorvak
