#pragma once

#include <functional>

#include "core/event_pump.h"
#include "platform/platform.h"

namespace zorvak::test {

// Connectivity the test switches by hand.
class SwitchConnectivity final : public Connectivity {
public:
    bool IsOnline() override { return online; }
    bool online = true;
};

// Counts pumps; onPump runs inside each, with the pump's number (1, 2, ...).
class ScriptedPump final : public EventPump {
public:
    void Pump() override {
        ++count;
        if (onPump) onPump(count);
    }
    int count = 0;
    std::function<void(int)> onPump;
};

}  // namespace zorvak::test
