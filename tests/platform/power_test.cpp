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
        PowerMode mode;
        std::string sessionId;
        std::string sessionPath;  // answer of GetSessionByPID
        std::vector<LogindCall> expected;
    };
    const std::string session = "/org/freedesktop/login1/session/_32";
    const Case cases[] = {
        {PowerMode::kPowerOff, "7", "", {{kPath, kManager, "PowerOff", {false}}}},
        {PowerMode::kReboot, "7", "", {{kPath, kManager, "Reboot", {false}}}},
        {PowerMode::kLogOff, "7", "", {{kPath, kManager, "TerminateSession", {std::string("7")}}}},
        {PowerMode::kLogOff, "", session,
         {{kPath, kManager, "GetSessionByPID", {std::uint32_t{4242}}},
          {session, "org.freedesktop.login1.Session", "Terminate", {}}}},
        // No session found: nothing more is asked.
        {PowerMode::kLogOff, "", "", {{kPath, kManager, "GetSessionByPID", {std::uint32_t{4242}}}}},
        {PowerMode::kHibernate, "7", "", {{kPath, kManager, "Hibernate", {false}}}},
        // Values outside the modes ask for nothing.
        {static_cast<PowerMode>(4), "7", "", {}},
        {static_cast<PowerMode>(-1), "7", "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("mode " + std::to_string(static_cast<int>(c.mode)) + " session '" +
                     c.sessionId + "'");
        RecordingBus bus;
        bus.sessionPath = c.sessionPath;
        LogindPower power(bus, c.sessionId, 4242);
        power.PowerAction(c.mode);
        EXPECT_EQ(bus.calls, c.expected);
    }
}

}  // namespace
}  // namespace zorvak
