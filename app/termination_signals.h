#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace zorvak {

// Turns the OS's requests to end the process (SIGTERM, SIGINT and SIGHUP on
// Linux; see platform/termination_signals.h) into a call of onSignal on the
// GUI thread, served wherever the thread serves its queue (also inside a play
// run), so a request from outside quits the client cleanly. One instance per
// process.
class TerminationSignals final : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(std::function<void()> onSignal, QObject* parent = nullptr);
    ~TerminationSignals() override;

private:
    std::function<void()> onSignal_;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace zorvak
