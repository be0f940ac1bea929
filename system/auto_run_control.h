#pragma once

#include <functional>

#include "platform/platform.h"
#include "system/setting_access.h"

namespace zorvak {

// The auto-play choice (the control window's auto-play check box) and the
// registration to start with the user's session.
class AutoRunControl {
public:
    // autoRunTicked: the tick state of the check box at the moment of asking.
    AutoRunControl(AutoRun& autoRun, SettingWriter write, std::function<bool()> autoRunTicked)
        : autoRun_(autoRun), write_(std::move(write)), autoRunTicked_(std::move(autoRunTicked)) {}

    // Registers the executable to start with the session, at every start,
    // whatever the auto-play choice. Failures are silent.
    void RegisterAutoRun() { autoRun_.RegisterAutoRun(); }

    // Stores the tick state of the check box (clicked, or set by start-up):
    // noautorun = "0" when ticked, "1" when not. The start-up registration is
    // not touched.
    void StoreAutoPlay();

private:
    AutoRun& autoRun_;
    SettingWriter write_;
    std::function<bool()> autoRunTicked_;
};

// Whether automatic play at start-up is on: noautorun reads exactly "0" (a
// missing key reads "0" too).
bool ReadAutoPlayOn(const SettingReader& read);

}  // namespace zorvak
