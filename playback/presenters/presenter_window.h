#pragma once

#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <string>

#include "playback/presenters.h"

class QEventLoop;
class QKeyEvent;

namespace zorvak {

// What the three full-screen presenter windows share: a borderless black
// top-level window covering the screen, key preview, the display timer
// `timShowTime` and the modal show.
//
// Key preview: every key press aimed at the window or at any widget inside it
// (the player surface, the web page's focus proxy) reaches FormKeyPress()
// before the widget itself; the key still goes on to its widget and to the
// application's own filters (the control window's Esc handling sees it too).
class PresenterWindow : public QWidget {
    Q_OBJECT

public:
    // The window class name and caption are fixed per class; CloseAllPresenters
    // finds an open presenter by both.
    PresenterWindow(const char* className, const QString& caption);
    ~PresenterWindow() override;

    // The class name the presenter shutdown looks for ("TfrmFullScreenImg", ...).
    QString WindowClassName() const { return className_; }

    // Arms the display timer: stops it and, for seconds > 0, starts it with an
    // interval of seconds × 1000 ms (capped at the largest interval a timer
    // holds). 0 or a negative time leaves it stopped: it never ticks.
    void ArmDisplayTimer(int seconds);
    int DisplayTimerInterval() const { return timShowTime.isActive() ? timShowTime.interval() : 0; }

    // Keeps the window above others once shown. The window is created with
    // this flag already, so this only makes sure of it.
    void SetStayOnTop();

    // The window the next ShowModal() stacks this one above, when that window
    // is on screen: this one becomes its transient, which window managers keep
    // above it (two windows both asked to stay on top are otherwise stacked as
    // the manager pleases, and a manager that does not give the new window
    // the focus may leave it beneath). Null: none.
    void SetShownAbove(QWidget* below) { shownAbove_ = below; }

    // Shows the window over the whole screen, blocks input to the application's
    // other windows and runs a nested event loop until the window is closed;
    // then hides it. Throws std::logic_error when the window is already on
    // screen.
    void ShowModal();
    // On screen in ShowModal() and not closed yet (a close ends the modal loop
    // once the handler that closed it has returned).
    bool IsShownModally() const { return modalLoop_ != nullptr && !closeRequested_; }

    // Ends the modal loop (the modal result "cancel"): FormClose runs, the
    // waiting ShowModal() returns and hides the window. Closing a window that is
    // not shown runs FormClose and changes nothing else.
    void CloseWindow();

    // How the last ShowModal() ended: the first cause given while it ran
    // (the display timer, a key, an error); a close by code alone is kStop.
    ItemEndCause EndCause() const { return endCause_; }
    const std::string& EndDetail() const { return endDetail_; }
    // Gives the cause of the close about to come, unless one was given.
    void NoteEndCause(ItemEndCause cause, std::string detail = {});

protected:
    // A key press seen through the key preview. By default a key that produces a
    // character closes the window; keys without text (arrows, function keys,
    // Shift alone) do nothing.
    virtual void FormKeyPress(QKeyEvent* event);
    // Runs when the window closes, before it is hidden.
    virtual void FormClose() {}

    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

    QTimer timShowTime;

private:
    void CoverScreen();

    QString className_;
    QPointer<QWidget> shownAbove_;
    QEventLoop* modalLoop_ = nullptr;
    bool closing_ = false;
    bool closeRequested_ = false;
    ItemEndCause endCause_ = ItemEndCause::kUnknown;
    std::string endDetail_;
};

}  // namespace zorvak
