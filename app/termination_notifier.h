#pragma once

#include <QObject>

#include <functional>
#include <memory>

class QSocketNotifier;

namespace zorvak {

class SignalPipe;

// The Qt side of the OS's requests to end the process (SIGTERM, SIGINT and
// SIGHUP on Linux; see platform/signal_pipe.h): watches the signal pipe and
// calls onSignal on the GUI thread, served wherever the thread serves its
// queue (also inside a play run), so a request from outside quits the client
// cleanly. One instance per process.
class TerminationNotifier final : public QObject {
    Q_OBJECT
public:
    explicit TerminationNotifier(std::function<void()> onSignal, QObject* parent = nullptr);
    ~TerminationNotifier() override;

private:
    std::function<void()> onSignal_;
    std::unique_ptr<SignalPipe> pipe_;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace zorvak
