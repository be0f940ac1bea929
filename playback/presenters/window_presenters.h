#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/app_directory.h"
#include "core/product_texts.h"
#include "platform/platform.h"
#include "playback/presenters.h"
#include "playback/presenters/player_core.h"

class QWebEngineProfile;

namespace zorvak {

class Backdrop;
class PicturePreparer;
class PresenterWindow;
class PictureWindow;
class VideoWindow;
class PageWindow;
class SilentWebPage;

// Fetches the body of an online picture: nullopt when the request fails or
// cannot start (the shared HTTP client is busy). May pump events while it waits.
using PictureFetch = std::function<std::optional<std::string>(const std::string& url)>;

struct PresenterSettings {
    PlayerSettings player;
    // The contact-number caption under the video player.
    std::string contactNumber = texts::kContactNumber;
};

// The three full-screen presenters in real windows, on the GUI thread of a
// QApplication. Locations are UTF-8 text.
//
// Each routine shows its item in a modal window: a nested event loop runs and
// the application's other windows take no input until the item ends (its
// display timer, a key that produces a character, CloseAllPresenters, or for a
// video a media error). A routine called again while its window is in use by
// an earlier call (a handler nested in that call) returns at once and leaves
// that window alone.
//
// All three take one path (PresentItem): check the item can be shown, take
// the kind's window (made, or a window a failed call left behind readied),
// load the item into it, show it modally (ShowItemWindow), let it finish and
// destroy it. What differs by kind is the window class (its virtuals) and the
// load.
class WindowPresenters final : public Presenters {
public:
    WindowPresenters(Connectivity& connectivity, const AppDirectory& appDirectory,
                     PictureFetch fetch, PresenterSettings settings = {});
    ~WindowPresenters() override;

    WindowPresenters(const WindowPresenters&) = delete;
    WindowPresenters& operator=(const WindowPresenters&) = delete;

    // A picture stretched over the screen with logo.png in its corner. A local
    // file that cannot be decoded throws; its window then stays in the slot and
    // is reused, without its logo, by the next call. A logo.png that cannot
    // be read leaves the pictures without a logo: the fault is logged once
    // (zorvak.play, a warning) until the logo reads again, and LogoFault()
    // tells it; nothing waits for anyone.
    void ShowImage(const std::string& location, int seconds, MediaSource source) override;
    // A video played once by the process's player; a stop that fails after the
    // window has closed throws and keeps the window in the slot.
    void PlayVideo(const std::string& location, int seconds, MediaSource source) override;
    // A web page, silent, without new windows, scroll bars, border or margin.
    void ShowWebPage(const std::string& location, int seconds, MediaSource source) override;
    void CloseAllPresenters() override;
    // The black backdrop under the presenters, for as long as a run lasts. At
    // the end of the outermost run a prepared picture is dropped.
    void BeginRun() override;
    void EndRun() override;
    // During a run the backdrop leaves the screen (the desktop and its pointer
    // show) until the run's next item is shown: that item's switch lays it
    // again, black, before the item's window maps. It stays off for no
    // longer, since every switch of a run needs it to keep the desktop out of
    // sight; an operator who wants the desktop for good stops the run.
    void GiveWayToDesktop() override;
    // Decodes the local picture at path on a worker thread and scales it to
    // the screen, so that the ShowImage call for it finds it ready: used there
    // when the file's path, size and modification time are still those it was
    // decoded from and the decode has finished; otherwise ShowImage decodes the
    // file at its turn (and throws for a file it cannot read). Bitmaps only
    // (bmp, ico, jpeg, png); at most one picture is held. The decode starts
    // once the next item shown (the one the loop is about to show) has its
    // first frame on screen, so that it never competes with that item's
    // switch.
    void PreparePicture(const std::string& path) override;
    ItemEnd LastItemEnd() const override { return lastEnd_; }

    // Why logo.png could not be read when the last picture window was made;
    // empty when it was read or there is none.
    const std::string& LogoFault() const { return logoFault_; }

    // The windows of each kind (null while no window of the kind exists).
    PictureWindow* Pictures() const;
    VideoWindow* Videos() const;
    PageWindow* Pages() const;

    // The process's video player, created at the first video (for tests).
    PlayerCore* Player() const { return player_.get(); }
    // The backdrop, while a run lasts (for tests).
    bool BackdropUp() const;
    // The pictures decoded ahead (for tests).
    PicturePreparer& Preparer() { return *preparer_; }

private:
    // The window of one kind of item. It is in use from the moment a call
    // takes it until the call destroys it (or leaves it behind after a
    // failure): a call of the same kind nested in that time returns at once.
    struct Slot {
        QPointer<PresenterWindow> window;
        bool busy = false;
    };
    // What a load failure does.
    enum class LoadFailure {
        kEndsTheItem,     // the call returns, the item ended with the error
        kLeavesTheCall,   // the exception leaves the call; the window is kept
    };
    // The one path of every item: see the class comment. create makes the
    // slot's window; load puts the item into it before it is shown (and may
    // serve events, as an online picture's fetch does), false when there is
    // nothing to show after all; the window is then destroyed unshown.
    void PresentItem(Slot& slot, MediaSource source, bool fileExists, int seconds,
                     const std::function<PresenterWindow*()>& create,
                     const std::function<bool(PresenterWindow&)>& load, LoadFailure failure);
    // Shows a loaded window modally for seconds, above the backdrop (laid
    // again during a run when it gave way to the desktop), and returns once
    // it has closed. During a run the window's last frame goes to
    // the backdrop as it closes, a window with a cover shows the backdrop's
    // frame until its own first frame, and a frame the window knows before it
    // is shown (a picture's) goes to the backdrop first: its backing store is
    // warm, so the frame is on screen a few milliseconds later, where the new
    // window's first paint would fill a fresh one; the window then paints the
    // same pixels over it.
    void ShowItemWindow(PresenterWindow& window, int seconds);
    // Loads a picture item into the picture window: an online one fetched
    // and decoded as JPEG, a local one taken ready from the preparer when its
    // file is unchanged, else decoded now. False when the machine went
    // offline or the file went meanwhile. Throws when it cannot be fetched
    // or decoded; a picture too large to decode (PictureTooLarge) is logged
    // as well.
    bool LoadPicture(PictureWindow& window, const std::string& location, MediaSource source);
    // LoadPicture's work, without the log line.
    bool LoadPictureOf(PictureWindow& window, const std::string& location, MediaSource source);
    // A picture window with the logo as logo.png is now; a new fault of the
    // logo goes to the log.
    PictureWindow* MakePictureWindow();
    PlayerCore& EnsurePlayer();
    // The window hands its last frame to the backdrop as it closes (during a
    // run), so the screen keeps showing it until the next item's window is up.
    void HandOverFrames(PresenterWindow& window);
    // The picture asked for by PreparePicture goes to the preparer once the
    // window's first frame is on screen.
    void PrepareAfterFirstFrame(PresenterWindow& window);
    QWebEngineProfile* EnsureProfile();
    // Starts the web engine ahead of the first page item, once per process:
    // the profile and one hidden page with an empty document, let go once it
    // has loaded (the engine's start-up, about a second, then falls inside an
    // item's time).
    void WarmWebEngine();
    // The engine is warmed this long after a run starts: inside the first
    // item's time, not in a switch.
    static constexpr int kWarmDelayMs = 500;
    // After an item's window is gone: the heap's free pages go back to the
    // system, at most once per kHeapReleaseIntervalMs.
    void ItemEnded();
    // Whether a call can show its item; otherwise why not, in lastEnd_.
    bool Showable(MediaSource source, bool fileExists, bool busy);
    void EndedBy(const PresenterWindow& window);
    static constexpr qint64 kHeapReleaseIntervalMs = 60'000;

    Connectivity& connectivity_;
    const AppDirectory& appDirectory_;
    PictureFetch fetch_;
    PresenterSettings settings_;

    ItemEnd lastEnd_;
    std::string logoFault_;  // logged already
    Slot pictures_;
    Slot videos_;
    Slot pages_;

    std::unique_ptr<PlayerCore> player_;
    std::unique_ptr<Backdrop> backdrop_;
    std::unique_ptr<PicturePreparer> preparer_;
    std::string pictureToPrepare_;  // asked for, not handed to the preparer yet
    int runDepth_ = 0;
    QWebEngineProfile* profile_ = nullptr;
    QPointer<SilentWebPage> warmPage_;
    bool engineWarmed_ = false;
    QTimer warmTimer_;
    QElapsedTimer heapReleased_;  // since the last ReleaseFreeHeapMemory
};

// Call before the QApplication is created: prepares QtWebEngine and, only when
// the process runs as root, turns off its sandbox (QTWEBENGINE_DISABLE_SANDBOX=1),
// which cannot run as root. With a GPU (HasGpuDevice): shared OpenGL contexts.
// Without one: no OpenGL in the process at all (Qt Quick's software renderer,
// Chromium's --disable-gpu, QT_XCB_GL_INTEGRATION=none unless the environment
// names one), so Mesa's software rasteriser is never loaded.
void PrepareWebEngineEnvironment();

}  // namespace zorvak
