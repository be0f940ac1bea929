#pragma once

#include <QPixmap>
#include <QWidget>

namespace zorvak {

// A borderless window covering the screen, under the presenter windows, for
// the length of a play run: nothing of the desktop shows between two items.
// It takes no focus and no part in modality.
//
// It is black until a presenter hands over its last frame (HoldFrame): from
// then on it shows that frame, so when the presenter's window goes the screen
// keeps the picture the viewer saw until the next item's window covers it.
class Backdrop final : public QWidget {
    Q_OBJECT

public:
    Backdrop();
    // Covers the screen, black.
    void ShowBackdrop();
    // Leaves the screen and lets go of a held frame.
    void HideBackdrop();

    // Shows frame (stretched to the screen) instead of black. The backing store
    // is painted at once, so the frame is what the window system gets as soon
    // as a window above goes.
    void HoldFrame(const QPixmap& frame);
    const QPixmap& HeldFrame() const { return frame_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // Black again.
    void ReleaseFrame();

    QPixmap frame_;
};

}  // namespace zorvak
