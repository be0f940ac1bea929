#pragma once

#include <QPixmap>
#include <QPointer>
#include <QTimer>

#include <functional>

class QWidget;

namespace zorvak {

// What a presenter window whose content comes later than the window itself (a
// page that loads and renders, a video that opens) shows over that content
// until its first frame is drawn: the frame the viewer saw last (the run's
// backdrop's copy of the last item's frame), or black.
//
// Lay() puts a native child widget over the whole window, above all its other
// children, so it also lies over children other programs draw into (the video
// player's surface) and needs nothing of a window manager. The content draws
// under it meanwhile. The cover goes (the content is "revealed") at the first
// of FirstFrameReady() and kRevealTimeoutMs after Lay(); revealed() is then
// called, once per Lay(). A cover never laid (nothing to wait for) calls
// nothing: the window's first paint shows its content. Create, use and destroy it on the GUI thread, with the window
// it covers outliving it.
class Cover final {
public:
    // The longest a window waits for its first frame before its content shows
    // anyway (a page that never loads).
    static constexpr int kRevealTimeoutMs = 3000;

    // window: the presenter window to cover. revealed: called when a laid
    // cover goes.
    Cover(QWidget& window, std::function<void()> revealed);
    ~Cover();
    Cover(const Cover&) = delete;
    Cover& operator=(const Cover&) = delete;

    // Whether Lay() waits for FirstFrameReady() at all. Off: the content is
    // revealed at once.
    void SetWaitsForFirstFrame(bool waits) { waitsForFirstFrame_ = waits; }
    // The frame the cover paints (stretched); null paints black. Set before Lay().
    void SetFrame(const QPixmap& frame) { frame_ = frame; }

    // The window is being shown: lays the cover unless the window does not
    // wait or its first frame is drawn already.
    void Lay();
    // The window has left the screen: the cover (if still there) goes and the
    // timeout stops. revealed() is not called.
    void Lift();
    // The content's first frame is drawn: the cover goes now, or, before
    // Lay(), is never laid.
    void FirstFrameReady();
    // Puts the cover back above a child raised while it lies there.
    void KeepOnTop();
    // Fits the cover to the window after a resize.
    void Fit();

    // The window's own content shows (false while the cover lies over it, and
    // before the first Lay()).
    bool Revealed() const { return revealed_; }

private:
    void Reveal();

    QWidget& window_;
    std::function<void()> revealedCallback_;
    bool waitsForFirstFrame_ = false;
    bool firstFrameReady_ = false;
    bool laid_ = false;  // between Lay() and Lift()
    bool revealed_ = false;
    QPixmap frame_;
    QPointer<QWidget> pane_;
    QTimer timeout_;
};

// Paints frame over the whole widget, stretched when its size differs, or
// black when there is none.
void PaintHeldFrame(QWidget& widget, const QPixmap& frame);

}  // namespace zorvak
