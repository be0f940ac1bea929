#include <unistd.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QList>
#include <QString>
#include <QVariant>
#include <cstdlib>

#include "platform/platform_linux.h"

namespace zorvak {

void LogindPower::PowerAction(PowerMode mode) {
    auto manager = [this](const char* method, std::vector<LogindArgument> arguments) {
        return bus_.Call({kManagerPath, kManager, method, std::move(arguments)});
    };
    switch (mode) {
        case PowerMode::kPowerOff: manager("PowerOff", {false}); break;
        case PowerMode::kReboot: manager("Reboot", {false}); break;
        case PowerMode::kLogOff:
            if (!sessionId_.empty()) {
                manager("TerminateSession", {sessionId_});
            } else {
                std::string session = manager("GetSessionByPID", {pid_});
                if (!session.empty()) bus_.Call({session, kSession, "Terminate", {}});
            }
            break;
        case PowerMode::kHibernate: manager("Hibernate", {false}); break;
        default: break;
    }
}

namespace {

class QtLogindBus final : public LogindBus {
public:
    std::string Call(const LogindCall& call) override {
        try {
            QDBusMessage message = QDBusMessage::createMethodCall(
                LogindPower::kService, QString::fromStdString(call.path),
                QString::fromStdString(call.interface), QString::fromStdString(call.method));
            QList<QVariant> arguments;
            for (const LogindArgument& argument : call.arguments) {
                if (auto* b = std::get_if<bool>(&argument)) arguments << QVariant(*b);
                else if (auto* u = std::get_if<std::uint32_t>(&argument))
                    arguments << QVariant::fromValue(static_cast<uint>(*u));
                else arguments << QString::fromStdString(std::get<std::string>(argument));
            }
            message.setArguments(arguments);
            message.setInteractiveAuthorizationAllowed(false);
            QDBusMessage reply = QDBusConnection::systemBus().call(message, QDBus::Block, 10000);
            if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
                return {};
            QVariant first = reply.arguments().constFirst();
            if (first.canConvert<QDBusObjectPath>())
                return first.value<QDBusObjectPath>().path().toStdString();
            return {};
        } catch (...) {
            return {};
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
          power_(*bus_, SessionId(), static_cast<std::uint32_t>(::getpid())) {}
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
