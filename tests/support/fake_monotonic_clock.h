#pragma once

#include <chrono>

#include "core/monotonic_clock.h"

namespace zorvak::test {

// A monotonic clock the test moves: by hand with Advance(), and, when a step
// is set, by that step on every reading (so code that waits in a loop sees
// time pass at a fixed rate per round, however fast the machine runs).
// Reads and advances come from the test's own thread.
class FakeMonotonicClock final : public MonotonicClock {
public:
    explicit FakeMonotonicClock(duration stepPerRead = duration::zero()) : step_(stepPerRead) {}

    // The current time; the clock then moves on by the step.
    time_point Now() override {
        time_point now = now_;
        now_ += step_;
        ++reads_;
        return now;
    }

    void Advance(duration by) { now_ += by; }
    void SetStep(duration stepPerRead) { step_ = stepPerRead; }
    int Reads() const { return reads_; }

private:
    // Far from the epoch, so that no arithmetic near zero hides a mistake.
    time_point now_ = time_point(std::chrono::hours(1000));
    duration step_;
    int reads_ = 0;
};

}  // namespace zorvak::test
