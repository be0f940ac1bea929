#pragma once

#include <string>

namespace zorvak {

// Where an item's media comes from. The values are those of the playlist's
// online_play flag as the play loop hands it on.
enum class MediaSource : int {
    kLocalFile = 0,  // location is the path of a file in the media cache
    kOnline = 1,     // location is a URL, shown from the network
};

// How the last item a presenter was asked to show ended.
enum class ItemEndCause : int {
    kUnknown,   // the presenter does not say
    kTimeUp,    // its display time ran out
    kKey,       // a key with text other than Esc
    kEscape,    // the Esc key
    kStop,      // closed by CloseAllPresenters (Esc hook, stop button, quit, restart)
    kError,     // it could not be shown or ended with an error; detail says which
    kNotShown,  // the call returned at once (no file, offline, presenter busy)
};
struct ItemEnd {
    ItemEndCause cause = ItemEndCause::kUnknown;
    std::string detail;  // kError, kNotShown: why
};
// "time up", "key", "esc", "stop", "error", "not shown", "unknown".
const char* ItemEndCauseName(ItemEndCause cause);

// The three full-screen presenters, as the play loop sees them.
//
// Each call shows one item full screen in a modal window and returns when
// `seconds` have passed or the item was closed (a key press, or
// CloseAllPresenters()). Events are pumped while the item is on screen, so any
// handler may run nested inside the call. For a local file the call returns at
// once when no file exists at location; for an online item it returns at once
// when the machine is offline. A call may throw; the play loop guards every
// row.
class Presenters {
public:
    virtual ~Presenters() = default;
    virtual void ShowImage(const std::string& location, int seconds, MediaSource source) = 0;
    virtual void PlayVideo(const std::string& location, int seconds, MediaSource source) = 0;
    virtual void ShowWebPage(const std::string& location, int seconds, MediaSource source) = 0;
    // Stops a playing video and closes whichever presenter window is open, so
    // the modal call above returns. Never throws.
    virtual void CloseAllPresenters() = 0;

    // A play run begins and ends. In between the presenters keep the screen
    // covered, so that nothing of the desktop shows between two items. Calls
    // nest (a run started inside another run); the cover goes when the
    // outermost run ends. The play loop makes the second call however the run
    // ends, also when it ends with an error. Never throw.
    virtual void BeginRun() {}
    virtual void EndRun() {}
    // The operator asked for the taskbar and pointer. During a run the cover
    // gives way to the desktop: it leaves the screen and hides the pointer no
    // longer, until the run's next item is shown, which brings it back.
    // Outside a run nothing happens. Never throws.
    virtual void GiveWayToDesktop() {}

    // The play loop's read-ahead: path is a local picture (a file in the media
    // cache) that the loop expects to hand to ShowImage after the item it is
    // about to show. The presenters may decode it meanwhile, off the GUI
    // thread, so that it shows sooner at its turn. Nothing else depends on
    // it: ShowImage still reads the file as it is at its turn, and a picture
    // prepared from a file that changed since, or never asked for, is simply
    // not used. A later call replaces an earlier one. Never throws.
    virtual void PreparePicture(const std::string& /*path*/) {}

    // How the last call of ShowImage, PlayVideo or ShowWebPage ended, read
    // right after it returned. Never throws.
    virtual ItemEnd LastItemEnd() const { return {}; }
};

}  // namespace zorvak
