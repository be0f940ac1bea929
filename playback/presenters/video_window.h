#pragma once

#include <QLabel>
#include <QPointer>

#include <string>

#include "playback/presenters/player_core.h"
#include "playback/presenters/presenter_window.h"

namespace zorvak {

// The full-screen video window, object name "frmFullScreenMp4", caption
// texts::kVideoWindowCaption. The player surface (object name "wmMp4") fills
// the window and lies over the two captions painted on the window itself:
// the brand caption (object name "Label1", texts::kBrandCaption) and the
// contact number (object name "Label2").
//
// Until the player has drawn the clip's first frame the window's cover lies
// over the surface (presenter_window.h). "Playing" is the player's: a file
// loaded, not paused, not idle. Handlers that read it swallow their own
// failures.
class VideoWindow final : public PresenterWindow, private PlayerListener {
    Q_OBJECT

public:
    // Takes the player surface of core for as long as the window lives.
    VideoWindow(PlayerCore& core, const QString& contactNumber);
    ~VideoWindow() override;

    bool IsPlaying();
    // Stops the player. Throws when the player refuses.
    void Stop();
    // Opens the clip at location and starts it (a clip still playing is
    // stopped first). Throws when the player refuses the clip.
    void Open(const std::string& location);
    // The player area covers the whole window with the picture's aspect ratio
    // kept. Setting it again changes nothing.
    void SetFullScreen(bool fullScreen);
    bool FullScreen() const { return fullScreen_; }

    QLabel* BrandCaption() const { return brandCaption_; }
    QLabel* ContactCaption() const { return contactCaption_; }
    QWidget* PlayerSurface() const { return surface_; }

    // A window kept after a failed call stops what it still plays.
    void ReadyForNextItem() override { StopIfPlaying(); }
    // The clip is stopped before the window goes; a stop the player refuses
    // throws.
    void AfterShown() override;

protected:
    // Any key with text also stops the clip before the window closes, whether
    // it reached the window or the player surface.
    void KeyPreview(QKeyEvent* event) override;
    void WindowClosing() override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // PlayerListener. A media error (mpv's end of file with an error) closes
    // the window; the first frame takes the cover off.
    void PlayerStateChanged() override;
    void PlayerMediaError() override;
    void PlayerFirstFrame() override;
    void StopIfPlaying();
    void PlaceCaptions();

    PlayerCore& core_;
    QPointer<QWidget> surface_;
    QLabel* brandCaption_ = nullptr;
    QLabel* contactCaption_ = nullptr;
    bool fullScreen_ = false;
};

}  // namespace zorvak
