#pragma once

#include <algorithm>
#include <chrono>
#include <functional>
#include <utility>
#include <vector>

#include "core/event_pump.h"
#include "platform/platform.h"

namespace zorvak::test {

// Connectivity the test switches: answers `online`. A script of answers, when
// given, is answered in turn, each answer becoming `online`; the last one then
// stays. Counts the calls.
class SwitchConnectivity final : public Connectivity {
public:
    bool IsOnline() override {
        ++calls;
        if (!answers.empty()) {
            online = answers.front();
            if (answers.size() > 1) answers.erase(answers.begin());
        }
        return online;
    }
    bool online = true;
    std::vector<bool> answers;
    int calls = 0;
};

// An event pump for the test: counts the pumps, measures the longest time
// between two, and runs the test's actions inside a pump, as a nested handler
// would run: onNextPump once, inside the next pump only; onPump inside every
// pump, with the pump's number (1, 2, ...). A wait (WaitFor) sleeps not at
// all: it is counted, its limit added up, and onWait runs with the limit (a
// test moves its clock there, or serves Qt's events).
class ScriptedPump final : public EventPump {
public:
    void Pump() override {
        const auto now = std::chrono::steady_clock::now();
        if (count > 0) longestGap = std::max(longestGap, now - last_);
        ++count;
        const int number = count;
        if (onNextPump) {
            auto action = std::move(onNextPump);
            onNextPump = nullptr;
            action();
        }
        if (onPump) onPump(number);
        last_ = std::chrono::steady_clock::now();
    }

    void WaitFor(std::chrono::milliseconds limit) override {
        ++waits;
        waited += limit;
        if (onWait) onWait(limit);
    }

    int count = 0;
    std::chrono::steady_clock::duration longestGap{};
    std::function<void()> onNextPump;
    std::function<void(int)> onPump;
    int waits = 0;
    std::chrono::milliseconds waited{};
    std::function<void(std::chrono::milliseconds)> onWait;

private:
    std::chrono::steady_clock::time_point last_;
};

}  // namespace zorvak::test
