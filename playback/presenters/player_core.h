#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <string>

struct mpv_handle;
struct mpv_event;

namespace zorvak {

// How the video player draws and sounds.
struct PlayerSettings {
    // mpv's video output list. Empty: "gpu,x11" on an X11 display (the GPU
    // renderer where a GPU driver exists, else the X11 output, which needs no
    // GPU), "null" when the application has no X11 display (nothing to embed in).
    std::string videoOutput;
    // mpv's audio output list; empty leaves mpv's choice.
    std::string audioOutput;
    // Allow the GPU renderer to run on a software rasteriser.
    bool gpuSoftware = false;
};

// The events the player raises for the window it plays in.
class PlayerListener {
public:
    virtual ~PlayerListener() = default;
    // The play state or the player's status changed (playing, paused, stopped,
    // file loaded, playback (re)started).
    virtual void PlayerStateChanged() = 0;
    // The current media could not be opened or played.
    virtual void PlayerMediaError() = 0;
    // The media's playback started: its first frame is out to the surface.
    virtual void PlayerFirstFrame() {}
};

// One libmpv player for the whole process, drawing into one render surface.
//
// A player per item leaked memory here, so the core lives as long as its owner
// and the surface widget moves into whichever video window is playing: Attach()
// re-parents it into the window, Detach() unloads the media and parks it in a
// hidden holder. The surface's native window, which mpv draws into by its id,
// therefore stays the same for the core's whole life, and so does mpv's video
// output inside it: kept between clips, it shows black while idle.
//
// mpv reports events from its threads through a wakeup callback; they are
// handled on the GUI thread, so listeners run inside the event loop.
class PlayerCore final : public QObject {
    Q_OBJECT

public:
    // Throws std::runtime_error when libmpv cannot be created or initialised.
    explicit PlayerCore(PlayerSettings settings);
    ~PlayerCore() override;

    PlayerCore(const PlayerCore&) = delete;
    PlayerCore& operator=(const PlayerCore&) = delete;

    // Moves the surface into parent (covering rect) and sends events to listener.
    QWidget* Attach(QWidget* parent, PlayerListener* listener);
    // Stops the listener's events, unloads the media and parks the surface.
    // Nothing happens unless listener is the attached one.
    void Detach(PlayerListener* listener);

    // Sets the media without starting it (playback stays paused until Play()).
    void SetUrl(const std::string& url);
    void Play();
    // Stops playback and unloads the media. Throws std::runtime_error when the
    // player refuses.
    void Stop();
    // True while a file is loaded, not paused and the player is not idle.
    bool IsPlaying();
    // Scale the picture to the surface keeping its aspect ratio (true) or not.
    void SetKeepAspect(bool keep);

private:
    // The longest Detach() waits for mpv to go idle after the stop: mpv
    // unloads in milliseconds; the bound only keeps a player that hangs from
    // holding the switch to the next item.
    static constexpr int kIdleWaitMs = 1000;
    // The video output mpv uses now ("gpu", "x11", ...; empty before one is made).
    std::string CurrentVideoOutput();
    static void Wakeup(void* self);
    void DrainEvents();
    void HandleEvent(const mpv_event& event);
    void WaitUntilIdle(int timeoutMs);
    bool Flag(const char* name, bool fallback);

    mpv_handle* mpv_ = nullptr;
    PlayerSettings settings_;
    QWidget holder_;              // never shown; keeps the surface while no window plays
    QPointer<QWidget> surface_;
    PlayerListener* listener_ = nullptr;
    int64_t currentEntry_ = -1;
    bool idleSeen_ = true;  // mpv went idle (the media unloaded) since the last SetUrl
    bool pinnedOutput_ = false;
    bool embedded_ = false;  // drawing into the surface by its native window id
    std::string usedOutput_;
    std::atomic<bool> wakeupPending_{false};
};

}  // namespace zorvak
