#pragma once

#include <string>

namespace zorvak {

// The three full-screen presenters, as the play loop sees them.
//
// Each call shows one item full screen in a modal window and returns when
// `seconds` have passed or the item was closed (a key press, or
// CloseAllPresenters()). Events are pumped while the item is on screen, so any
// handler may run nested inside the call. With online 0, location is a local
// file path and the call returns at once when no file exists there; with
// online 1, location is a URL and the call returns at once when the machine is
// offline. A call may throw; the play loop guards every row.
class Presenters {
public:
    virtual ~Presenters() = default;
    virtual void ShowImage(const std::string& location, int seconds, int online) = 0;
    virtual void PlayVideo(const std::string& location, int seconds, int online) = 0;
    virtual void ShowWebPage(const std::string& location, int seconds, int online) = 0;
    // Stops a playing video and closes whichever presenter window is open, so
    // the modal call above returns. Never throws.
    virtual void CloseAllPresenters() = 0;
};

}  // namespace zorvak
