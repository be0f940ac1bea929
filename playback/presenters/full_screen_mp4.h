#pragma once

#include <QLabel>
#include <QPointer>

#include <string>

#include "playback/presenters/player_core.h"
#include "playback/presenters/presenter_window.h"

namespace zorvak {

// The full-screen video window, caption texts::kVideoWindowCaption. The player
// surface `wmMp4` fills the window and lies over the two captions painted on
// the window itself: `Label1` (texts::kBrandCaption) and `Label2` (the
// contact number).
//
// Player state "playing" (play state 3) is the player's: a file loaded, not
// paused, not idle. Handlers that read it swallow their own failures.
class TfrmFullScreenMp4 final : public PresenterWindow, private PlayerListener {
    Q_OBJECT

public:
    static constexpr int kPlaying = 3;

    // Takes the player surface of core for as long as the window lives.
    TfrmFullScreenMp4(PlayerCore& core, const QString& contactNumber);
    ~TfrmFullScreenMp4() override;

    // 3 while playing, 1 (stopped) otherwise.
    int playState();
    // Stops the player. Throws when the player refuses.
    void Stop();
    // Sets the media; playback does not start by itself.
    void SetUrl(const std::string& location);
    void Play();
    // The player area covers the whole window with the picture's aspect ratio
    // kept. Setting it again changes nothing.
    void SetFullScreen(bool fullScreen);
    bool FullScreen() const { return fullScreen_; }

    QLabel* Label1() const { return label1_; }
    QLabel* Label2() const { return label2_; }
    QWidget* Player() const { return wmMp4; }

protected:
    void FormKeyPress(QKeyEvent* event) override;
    void FormClose() override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // PlayerListener: wmMp4PlayStateChange / wmMp4StatusChange and
    // wmMp4MediaError (mpv's end of file with an error stands for both the
    // Error and the MediaError events: the media cannot be played).
    void PlayerStateChanged() override;
    void PlayerMediaError() override;
    // The window comes up over the backdrop when the player shows the first
    // frame (until then the last item's frame stays on screen).
    void PlayerFirstFrame() override;
    void StopIfPlaying();
    void PlaceLabels();

    PlayerCore& core_;
    QPointer<QWidget> wmMp4;
    QLabel* label1_ = nullptr;
    QLabel* label2_ = nullptr;
    bool fullScreen_ = false;
};

}  // namespace zorvak
