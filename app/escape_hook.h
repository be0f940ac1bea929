#pragma once

#include <QObject>

#include <functional>

class QEvent;

namespace zorvak {

// The application-wide message hook: installed on the application, it sees
// every key press for every window and widget of the process (the control
// window, the presenters and the player and page inside them) before it is
// delivered, runs onEscape for a press of Esc and lets the key go on to its
// receiver. A press that travels through several receivers (window, focus
// widget, parents) counts once. Keys pressed inside an open menu or message
// box are left alone, as those loops are not the application's own.
class EscapeHook final : public QObject {
    Q_OBJECT
public:
    explicit EscapeHook(std::function<void()> onEscape, QObject* parent = nullptr);
    ~EscapeHook() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<void()> onEscape_;
    // The press last acted on, until Esc is released or another key pressed.
    const QEvent* lastPress_ = nullptr;
    quint64 lastTimestamp_ = 0;
};

}  // namespace zorvak
