#pragma once

#include <QPixmap>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <string>

#include "playback/presenters.h"

#include <functional>

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

    // Receives what the screen shows in the window at the moment it closes
    // while on screen, before FormClose (a video's frame is still there then).
    // The run's backdrop keeps it on screen until the next item covers it.
    using FrameKeeper = std::function<void(const QPixmap&)>;
    void SetFrameKeeper(FrameKeeper keeper) { frameKeeper_ = std::move(keeper); }
    // The window's area as the screen shows it now (children drawn by other
    // programs, such as the video player's output, included).
    QPixmap GrabShownFrame() const;

    // The frame a window that waits for its first frame shows over its
    // content until then (the backdrop's copy of the last item's frame); null
    // shows black. Set before ShowModal().
    void SetCoverFrame(const QPixmap& frame) { coverFrame_ = frame; }
    // Called once per ShowModal() when the window's content first shows: for
    // a window with a cover when the cover goes, for any other after its
    // first paint, as a queued call (the painted frame is on its way to the
    // screen by then). Not called when the window closes before. Set before
    // ShowModal().
    void SetFirstFrameShown(std::function<void()> shown) { firstFrameShown_ = std::move(shown); }
    // The longest a window waits for its first frame before its content shows
    // anyway.
    static constexpr int kRevealTimeoutMs = 3000;
    // The window's own content shows (false while the cover lies over it).
    bool Revealed() const { return revealed_; }

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

    // For a window whose content comes later than the window itself (a page
    // that loads and renders, a video that opens): ShowModal() lays a cover
    // over the content, showing the cover frame, and takes it off when
    // FirstFrameReady() is called (or after kRevealTimeoutMs). The content
    // draws under the cover meanwhile. The cover is a native child above all
    // others, so it also lies over children other programs draw into (the
    // video player's surface), and it needs nothing of a window manager. Set
    // before ShowModal().
    void SetWaitsForFirstFrame(bool waits) { waitsForFirstFrame_ = waits; }
    // The first frame is drawn: the cover goes now (or is never laid when the
    // window is shown later).
    void FirstFrameReady();
    // Puts the cover back above a child raised while it lies there.
    void KeepCoverOnTop();

    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

    QTimer timShowTime;

private:
    void CoverScreen();
    void Reveal();
    // Queues the call of firstFrameShown_, once per ShowModal().
    void TellFirstFrameShown();

    QString className_;
    QPointer<QWidget> shownAbove_;
    QEventLoop* modalLoop_ = nullptr;
    bool closing_ = false;
    bool closeRequested_ = false;
    ItemEndCause endCause_ = ItemEndCause::kUnknown;
    std::string endDetail_;
    FrameKeeper frameKeeper_;
    bool waitsForFirstFrame_ = false;
    bool firstFrameReady_ = false;
    bool revealed_ = false;
    QTimer revealTimer_;
    QPixmap coverFrame_;
    QWidget* cover_ = nullptr;
    std::function<void()> firstFrameShown_;
    bool firstFrameTold_ = false;
};

}  // namespace zorvak
