#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace zorvak {

// Turns SIGTERM, SIGINT and SIGHUP into a call of onSignal on the GUI thread,
// served wherever the thread serves its queue (also inside a play run), so a
// request to end the process from outside quits the client cleanly. One
// instance per process.
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
