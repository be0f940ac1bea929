#pragma once

#include <chrono>

namespace zorvak {

// A clock that only moves forward, for measuring how long something waited.
// Now() gives a point on std::chrono::steady_clock's time line; only the
// differences between two readings mean anything. Code that keeps time limits
// takes one of these, so that tests can hand it a clock they move themselves.
class MonotonicClock {
public:
    using duration = std::chrono::steady_clock::duration;
    using time_point = std::chrono::steady_clock::time_point;

    virtual ~MonotonicClock() = default;
    // Never earlier than any earlier reading of the same clock.
    virtual time_point Now() = 0;
};

// The machine's monotonic clock (std::chrono::steady_clock).
class SteadyMonotonicClock final : public MonotonicClock {
public:
    time_point Now() override { return std::chrono::steady_clock::now(); }

    // One instance for every user that has no clock of its own to pass.
    static SteadyMonotonicClock& Instance() {
        static SteadyMonotonicClock clock;
        return clock;
    }
};

}  // namespace zorvak
