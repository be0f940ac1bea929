#pragma once

// The Linux implementations behind platform.h, declared here so that tests
// can build them with their seams (executable path, bus) replaced.

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <variant>
#include <vector>

#include "core/product_texts.h"
#include "platform/platform.h"

namespace zorvak {

// Auto-start through an XDG autostart entry: zorvak-client.desktop in
// $XDG_CONFIG_HOME/autostart/ (or ~/.config/autostart/ when XDG_CONFIG_HOME is
// unset, empty or relative), named texts::kAutoRunName, whose Exec is the
// executable's full path. The environment is read at every call; the entry is
// rewritten whole at every call (temporary file, then rename) and its folders
// are created. Every failure is silent.
class XdgAutoRun final : public AutoRun {
public:
    static constexpr const char* kFileName = "zorvak-client.desktop";
    static constexpr const char* kEntryName = texts::kAutoRunName;

    explicit XdgAutoRun(std::function<std::string()> executablePath = ExecutablePath)
        : executablePath_(std::move(executablePath)) {}
    void RegisterAutoRun() override;

    // The folder the entry goes to, from the environment; "" when neither
    // XDG_CONFIG_HOME nor HOME gives one.
    static std::string AutostartFolder();
    // The whole entry for an executable path.
    static std::string DesktopEntry(const std::string& executablePath);
    // An Exec value that runs exactly this program path: quoted and escaped
    // when it holds blanks or reserved characters, "%" doubled.
    static std::string ExecValue(const std::string& executablePath);

private:
    std::function<std::string()> executablePath_;
};

// Processes from /proc. A process matches by its executable file
// (/proc/PID/exe), its command name (/proc/PID/comm) or its argv[0]
// (/proc/PID/cmdline), each under the rules of ProcessNameMatches.
// KillExplorer does nothing: no Linux process is the Windows shell, so the
// check before it answers false for "explorer.exe" and there is no shell to
// end.
class ProcShellControl final : public ShellControl {
public:
    explicit ProcShellControl(std::string procRoot = "/proc") : procRoot_(std::move(procRoot)) {}
    bool IsProcessRunning(const std::string& name) override;
    void KillExplorer() override {}

    // The names a process goes by, as above; empty when it is gone.
    std::vector<std::string> ProcessNames(pid_t pid) const;

private:
    std::string procRoot_;
};

// One method call to systemd-logind on the system bus.
using LogindArgument = std::variant<bool, std::uint32_t, std::uint64_t, std::string>;
struct LogindCall {
    std::string path;
    std::string interface;
    std::string method;
    std::vector<LogindArgument> arguments;

    bool operator==(const LogindCall&) const = default;
};

// What logind answered to one call.
struct LogindReply {
    bool ok = false;
    // The object path the reply carries ("" for none).
    std::string objectPath;
    // For an error: the D-Bus error name and message ("" when the bus could
    // not be reached at all).
    std::string errorName;
    std::string errorMessage;
};

// The system bus as the power actions use it. Call sends one call without
// interactive authorisation.
class LogindBus {
public:
    virtual ~LogindBus() = default;
    virtual LogindReply Call(const LogindCall& call) = 0;
};

// The bus of the running system, through Qt D-Bus.
std::unique_ptr<LogindBus> CreateSystemLogindBus();

// Power actions asked of systemd-logind, none interactive. Shutdown, reboot
// and hibernation are forced, as far as the system's policy lets this user
// force them: Manager.PowerOffWithFlags / RebootWithFlags /
// HibernateWithFlags with kSkipInhibitors (logind then ignores the other
// programs' inhibitor locks where polkit's *-ignore-inhibit action allows);
// a logind too old for the method or the flag is asked again with
// Manager.PowerOff / Reboot / Hibernate(false), which ignore the locks for
// root and otherwise leave it to the same policy. kLogOff is
// Manager.TerminateSession(sessionId), or, without a session id,
// Session.Terminate() on the session Manager.GetSessionByPID(pid) names; any
// other value does nothing. A refusal is reported through report (when set)
// with logind's reason; nothing else is.
class LogindPower final : public Power {
public:
    // SD_LOGIND_SKIP_INHIBITORS of logind's *WithFlags methods.
    static constexpr std::uint64_t kSkipInhibitors = std::uint64_t{1} << 4;

    static constexpr const char* kService = "org.freedesktop.login1";
    static constexpr const char* kManagerPath = "/org/freedesktop/login1";
    static constexpr const char* kManager = "org.freedesktop.login1.Manager";
    static constexpr const char* kSession = "org.freedesktop.login1.Session";

    LogindPower(LogindBus& bus, std::string sessionId, std::uint32_t pid,
                std::function<void(const std::string&)> report = {})
        : bus_(bus), sessionId_(std::move(sessionId)), pid_(pid), report_(std::move(report)) {}
    void PowerAction(PowerMode mode) override;

private:
    // The forced form of method, then the plain one when logind does not know
    // the forced one; reports a refusal.
    void Forced(const char* method);

    LogindBus& bus_;
    std::string sessionId_;
    std::uint32_t pid_;
    std::function<void(const std::string&)> report_;
};

}  // namespace zorvak
