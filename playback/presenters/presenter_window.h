#pragma once

#include <QPixmap>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <string>

#include "playback/presenters.h"
#include "playback/presenters/cover.h"

class QEventLoop;
class QKeyEvent;

namespace zorvak {

// What the three full-screen presenter windows share: a borderless black
// top-level window covering the screen, always on top, with key preview, the
// display timer, the modal show, how the show ended, and the frame it leaves
// behind. A window whose content comes later than the window (a page, a
// video) lies under its Cover until its first frame is drawn.
//
// Key preview: every key press aimed at the window or at any widget inside it
// (the player surface, the web page's focus proxy) reaches KeyPreview()
// before the widget itself; the key still goes on to its widget and to the
// application's own filters (the control window's Esc handling sees it too).
class PresenterWindow : public QWidget {
    Q_OBJECT

public:
    // objectName: the window's Qt object name ("frmFullScreenImg", ...);
    // caption: its window title (core/product_texts.h).
    PresenterWindow(const char* objectName, const QString& caption);
    ~PresenterWindow() override;

    // Arms the display timer: stops it and, for seconds > 0, starts it with an
    // interval of seconds × 1000 ms (capped at the largest interval a timer
    // holds). 0 or a negative time leaves it stopped: it never ticks.
    void ArmDisplayTimer(int seconds);
    int DisplayTimerInterval() const {
        return displayTimer_.isActive() ? displayTimer_.interval() : 0;
    }

    // The window the next ShowModal() stacks this one above, when that window
    // is on screen: this one becomes its transient, which window managers keep
    // above it (two windows both asked to stay on top are otherwise stacked as
    // the manager pleases, and a manager that does not give the new window
    // the focus may leave it beneath). Null: none.
    void SetShownAbove(QWidget* below) { shownAbove_ = below; }

    // Receives what the screen shows in the window at the moment it closes
    // while its content is on screen, before WindowClosing() (a video's frame
    // is still there then). The run's backdrop keeps it on screen until the
    // next item covers it. Empty: nothing is grabbed.
    using FrameKeeper = std::function<void(const QPixmap&)>;
    void SetFrameKeeper(FrameKeeper keeper) { frameKeeper_ = std::move(keeper); }

    // The frame the cover paints until the window's first frame (the
    // backdrop's copy of the last item's frame); null paints black. Set
    // before ShowModal().
    void SetCoverFrame(const QPixmap& frame) { cover_.SetFrame(frame); }
    // Called once per ShowModal() when the window's content first shows: for
    // a window with a cover when the cover goes, for any other after its
    // first paint, as a queued call (the painted frame is on its way to the
    // screen by then). Not called when the window closes before. Set before
    // ShowModal().
    void SetFirstFrameShown(std::function<void()> shown) { firstFrameShown_ = std::move(shown); }

    // What the window will paint at size once shown, when the window knows it
    // before it is shown (a picture); null otherwise. The run's backdrop shows
    // it first, so the frame is on screen before the window maps.
    virtual QPixmap FrameBeforeShown(QSize /*size*/) { return QPixmap(); }
    // Readies a window left behind by a failed call for its next item.
    virtual void ReadyForNextItem() {}
    // Runs after ShowModal() has returned, before the window is destroyed. A
    // throw leaves the call that showed the item, and the window is kept.
    virtual void AfterShown() {}

    // Shows the window over the whole screen, blocks input to the application's
    // other windows and runs a nested event loop until the window is closed;
    // then hides it. Throws std::logic_error when the window is already on
    // screen.
    void ShowModal();
    // On screen in ShowModal() and not closed yet (a close ends the modal loop
    // once the handler that closed it has returned).
    bool IsShownModally() const { return modalLoop_ != nullptr && !closeRequested_; }

    // Ends the modal loop (the modal result "cancel"): WindowClosing() runs,
    // the waiting ShowModal() returns and hides the window. Closing a window
    // that is not shown runs WindowClosing() and changes nothing else.
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
    virtual void KeyPreview(QKeyEvent* event);
    // Runs when the window closes, before it is hidden.
    virtual void WindowClosing() {}

    // The cover over the content (cover.h): a window whose content comes
    // later turns its wait on in its constructor and reports its first frame.
    Cover& ContentCover() { return cover_; }
    const Cover& ContentCover() const { return cover_; }

    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Gives the window the primary screen's geometry.
    void CoverScreen();
    // The window's area as the screen shows it now (children drawn by other
    // programs, such as the video player's output, included).
    QPixmap GrabShownFrame() const;
    // Queues the call of firstFrameShown_, once per ShowModal().
    void TellFirstFrameShown();

    QTimer displayTimer_;
    QPointer<QWidget> shownAbove_;
    QEventLoop* modalLoop_ = nullptr;
    bool closing_ = false;
    bool closeRequested_ = false;
    ItemEndCause endCause_ = ItemEndCause::kUnknown;
    std::string endDetail_;
    FrameKeeper frameKeeper_;
    Cover cover_;
    std::function<void()> firstFrameShown_;
    bool firstFrameTold_ = false;
};

}  // namespace zorvak
