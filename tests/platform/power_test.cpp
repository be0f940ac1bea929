#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "platform/platform_linux.h"

namespace zorvak {
namespace {

// Records the calls instead of sending them; never reaches a real bus. A
// method listed in errors answers with that D-Bus error; GetSessionByPID
// answers sessionPath.
class RecordingBus final : public LogindBus {
public:
    LogindReply Call(const LogindCall& call) override {
        calls.push_back(call);
        LogindReply reply;
        if (auto it = errors.find(call.method); it != errors.end()) {
            reply.errorName = it->second;
            reply.errorMessage = "refused by the test";
            return reply;
        }
        reply.ok = true;
        if (call.method == "GetSessionByPID") reply.objectPath = sessionPath;
        return reply;
    }
    std::vector<LogindCall> calls;
    std::string sessionPath;
    std::map<std::string, std::string> errors;
};

constexpr const char* kPath = "/org/freedesktop/login1";
constexpr const char* kManager = "org.freedesktop.login1.Manager";
constexpr std::uint64_t kSkip = LogindPower::kSkipInhibitors;

TEST(LogindPower, ModesMapToLogindMethods) {
    struct Case {
        PowerMode mode;
        std::string sessionId;
        std::string sessionPath;  // answer of GetSessionByPID
        std::vector<LogindCall> expected;
    };
    const std::string session = "/org/freedesktop/login1/session/_32";
    const Case cases[] = {
        {PowerMode::kPowerOff, "7", "", {{kPath, kManager, "PowerOffWithFlags", {kSkip}}}},
        {PowerMode::kReboot, "7", "", {{kPath, kManager, "RebootWithFlags", {kSkip}}}},
        {PowerMode::kLogOff, "7", "", {{kPath, kManager, "TerminateSession", {std::string("7")}}}},
        {PowerMode::kLogOff, "", session,
         {{kPath, kManager, "GetSessionByPID", {std::uint32_t{4242}}},
          {session, "org.freedesktop.login1.Session", "Terminate", {}}}},
        // No session found: nothing more is asked.
        {PowerMode::kLogOff, "", "", {{kPath, kManager, "GetSessionByPID", {std::uint32_t{4242}}}}},
        {PowerMode::kHibernate, "7", "", {{kPath, kManager, "HibernateWithFlags", {kSkip}}}},
        // Values outside the modes ask for nothing.
        {static_cast<PowerMode>(4), "7", "", {}},
        {static_cast<PowerMode>(-1), "7", "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("mode " + std::to_string(static_cast<int>(c.mode)) + " session '" +
                     c.sessionId + "'");
        RecordingBus bus;
        bus.sessionPath = c.sessionPath;
        std::vector<std::string> reports;
        LogindPower power(bus, c.sessionId, 4242,
                          [&](const std::string& why) { reports.push_back(why); });
        power.PowerAction(c.mode);
        EXPECT_EQ(bus.calls, c.expected);
        EXPECT_TRUE(reports.empty());
    }
}

// The reboot is forced as far as logind lets this user force it: a logind
// that does not know the method or the flag is asked the plain way; a refusal
// is reported with logind's reason, and nothing else is.
TEST(LogindPower, AForcedRebootFallsBackAndReportsARefusal) {
    struct Case {
        const char* name;
        std::map<std::string, std::string> errors;
        std::vector<LogindCall> expected;
        std::vector<std::string> reports;
    };
    const LogindCall forced{kPath, kManager, "RebootWithFlags", {kSkip}};
    const LogindCall plain{kPath, kManager, "Reboot", {false}};
    const Case cases[] = {
        {"accepted", {}, {forced}, {}},
        {"logind without the method",
         {{"RebootWithFlags", "org.freedesktop.DBus.Error.UnknownMethod"}},
         {forced, plain},
         {}},
        {"logind without the flag",
         {{"RebootWithFlags", "org.freedesktop.DBus.Error.InvalidArgs"}},
         {forced, plain},
         {}},
        {"refused by policy",
         {{"RebootWithFlags", "org.freedesktop.DBus.Error.AccessDenied"}},
         {forced},
         {"the login manager refused Reboot (org.freedesktop.DBus.Error.AccessDenied: refused "
          "by the test)"}},
        {"old logind, an inhibitor blocks",
         {{"RebootWithFlags", "org.freedesktop.DBus.Error.UnknownMethod"},
          {"Reboot", "org.freedesktop.login1.BlockedByInhibitor"}},
         {forced, plain},
         {"the login manager refused Reboot (org.freedesktop.login1.BlockedByInhibitor: "
          "refused by the test)"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingBus bus;
        bus.errors = c.errors;
        std::vector<std::string> reports;
        LogindPower power(bus, "7", 4242, [&](const std::string& why) { reports.push_back(why); });
        power.PowerAction(PowerMode::kReboot);
        EXPECT_EQ(bus.calls, c.expected);
        EXPECT_EQ(reports, c.reports);
    }
}

}  // namespace
}  // namespace zorvak
