#pragma once

#include <functional>

#include "platform/platform.h"
#include "system/setting_access.h"

namespace zorvak {

// The operator's auto-play choice and the registration to start with the
// user's session.
class AutoRunControl {
public:
    // autoPlayOn: the auto-play choice at the moment of asking.
    AutoRunControl(AutoRun& autoRun, SettingWriter write, std::function<bool()> autoPlayOn)
        : autoRun_(autoRun), write_(std::move(write)), autoPlayOn_(std::move(autoPlayOn)) {}

    // Registers the executable to start with the session, at every start,
    // whatever the auto-play choice. Failures are silent.
    void RegisterAutoRun() { autoRun_.RegisterAutoRun(); }

    // Stores the auto-play choice (changed by the operator or by start-up):
    // noautorun = "0" when on, "1" when off. The start-up registration is not
    // touched.
    void StoreAutoPlay();

private:
    AutoRun& autoRun_;
    SettingWriter write_;
    std::function<bool()> autoPlayOn_;
};

// Whether automatic play at start-up is on: noautorun reads exactly "0" (a
// missing key reads "0" too).
bool ReadAutoPlayOn(const SettingReader& read);

}  // namespace zorvak
