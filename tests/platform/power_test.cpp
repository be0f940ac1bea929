#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform_linux.h"

namespace zorvak {
namespace {

// Records the calls instead of sending them; never reaches a real bus.
class RecordingBus final : public LogindBus {
public:
    std::string Call(const LogindCall& call) override {
        calls.push_back(call);
        return call.method == "GetSessionByPID" ? sessionPath : "";
    }
    std::vector<LogindCall> calls;
    std::string sessionPath;
};

constexpr const char* kPath = "/org/freedesktop/login1";
constexpr const char* kManager = "org.freedesktop.login1.Manager";

TEST(LogindPower, ModesMapToLogindMethods) {
    struct Case {
        int mode;
        std::string sessionId;
        std::string sessionPath;  // answer of GetSessionByPID
        std::vector<LogindCall> expected;
    };
    const std::string session = "/org/freedesktop/login1/session/_32";
    const Case cases[] = {
        {0, "7", "", {{kPath, kManager, "PowerOff", {false}}}},
        {1, "7", "", {{kPath, kManager, "Reboot", {false}}}},
        {2, "7", "", {{kPath, kManager, "TerminateSession", {std::string("7")}}}},
        {2, "", session,
         {{kPath, kManager, "GetSessionByPID", {std::uint32_t{4242}}},
          {session, "org.freedesktop.login1.Session", "Terminate", {}}}},
        // No session found: nothing more is asked.
        {2, "", "", {{kPath, kManager, "GetSessionByPID", {std::uint32_t{4242}}}}},
        {3, "7", "", {{kPath, kManager, "Hibernate", {false}}}},
        {4, "7", "", {}},
        {-1, "7", "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("mode " + std::to_string(c.mode) + " session '" + c.sessionId + "'");
        RecordingBus bus;
        bus.sessionPath = c.sessionPath;
        LogindPower power(bus, c.sessionId, 4242);
        power.PowerAction(c.mode);
        EXPECT_EQ(bus.calls, c.expected);
    }
}

}  // namespace
}  // namespace zorvak
