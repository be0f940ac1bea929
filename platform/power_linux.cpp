#include <unistd.h>

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QList>
#include <QString>
#include <QVariant>
#include <QtGlobal>
#include <cstdlib>

#include "core/log.h"
#include "platform/platform_linux.h"

namespace zorvak {

namespace {

// Errors of a logind that has no such method, or does not know the flags.
bool UnknownToLogind(const LogindReply& reply) {
    return reply.errorName == "org.freedesktop.DBus.Error.UnknownMethod" ||
           reply.errorName == "org.freedesktop.DBus.Error.InvalidArgs";
}

}  // namespace

void LogindPower::Forced(const char* method) {
    const std::string name = method;
    LogindReply reply =
        bus_.Call({kManagerPath, kManager, name + "WithFlags", {kSkipInhibitors}});
    if (!reply.ok && UnknownToLogind(reply)) reply = bus_.Call({kManagerPath, kManager, name, {false}});
    if (!reply.ok && report_) {
        std::string why = reply.errorName.empty() ? "the system bus cannot be reached"
                                                  : reply.errorName + ": " + reply.errorMessage;
        report_("the login manager refused " + name + " (" + why + ")");
    }
}

void LogindPower::PowerAction(PowerMode mode) {
    switch (mode) {
        case PowerMode::kPowerOff: Forced("PowerOff"); break;
        case PowerMode::kReboot: Forced("Reboot"); break;
        case PowerMode::kLogOff:
            if (!sessionId_.empty()) {
                bus_.Call({kManagerPath, kManager, "TerminateSession", {sessionId_}});
            } else {
                LogindReply session =
                    bus_.Call({kManagerPath, kManager, "GetSessionByPID", {pid_}});
                if (!session.objectPath.empty())
                    bus_.Call({session.objectPath, kSession, "Terminate", {}});
            }
            break;
        case PowerMode::kHibernate: Forced("Hibernate"); break;
        default: break;
    }
}

namespace {

class QtLogindBus final : public LogindBus {
public:
    LogindReply Call(const LogindCall& call) override {
        LogindReply result;
        try {
            QDBusMessage message = QDBusMessage::createMethodCall(
                LogindPower::kService, QString::fromStdString(call.path),
                QString::fromStdString(call.interface), QString::fromStdString(call.method));
            QList<QVariant> arguments;
            for (const LogindArgument& argument : call.arguments) {
                if (auto* b = std::get_if<bool>(&argument)) arguments << QVariant(*b);
                else if (auto* u = std::get_if<std::uint32_t>(&argument))
                    arguments << QVariant::fromValue(static_cast<uint>(*u));
                else if (auto* t = std::get_if<std::uint64_t>(&argument))
                    arguments << QVariant::fromValue(static_cast<qulonglong>(*t));
                else arguments << QString::fromStdString(std::get<std::string>(argument));
            }
            message.setArguments(arguments);
            message.setInteractiveAuthorizationAllowed(false);
            QDBusMessage reply = QDBusConnection::systemBus().call(message, QDBus::Block, 10000);
            if (reply.type() == QDBusMessage::ErrorMessage) {
                result.errorName = reply.errorName().toStdString();
                result.errorMessage = reply.errorMessage().toStdString();
                return result;
            }
            if (reply.type() != QDBusMessage::ReplyMessage) return result;
            result.ok = true;
            if (!reply.arguments().isEmpty()) {
                QVariant first = reply.arguments().constFirst();
                if (first.canConvert<QDBusObjectPath>())
                    result.objectPath = first.value<QDBusObjectPath>().path().toStdString();
            }
            return result;
        } catch (...) {
            return LogindReply{};
        }
    }
};

}  // namespace

std::unique_ptr<LogindBus> CreateSystemLogindBus() { return std::make_unique<QtLogindBus>(); }

namespace {

// Owns the bus its LogindPower talks to.
class SystemPower final : public Power {
public:
    SystemPower()
        : bus_(CreateSystemLogindBus()),
          power_(*bus_, SessionId(), static_cast<std::uint32_t>(::getpid()),
                 [](const std::string& why) { LogWarning(LogCategory::kPower, why); }) {}
    void PowerAction(PowerMode mode) override { power_.PowerAction(mode); }

private:
    static std::string SessionId() {
        const char* id = std::getenv("XDG_SESSION_ID");
        return id ? id : "";
    }
    std::unique_ptr<LogindBus> bus_;
    LogindPower power_;
};

}  // namespace

std::unique_ptr<Power> CreatePower() { return std::make_unique<SystemPower>(); }

}  // namespace zorvak
