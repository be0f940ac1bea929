#pragma once

#include <chrono>
#include <thread>

namespace zorvak {

// The one thread's way of letting other work run in the middle of a long
// operation. Pump() processes what is waiting (timer ticks, keys, clicks) and
// returns without waiting for more. Any handler of the application may run
// nested inside Pump(), including one that starts the same operation again.
class EventPump {
public:
    virtual ~EventPump() = default;
    virtual void Pump() = 0;

    // Waits for events for at most `limit`, serves what arrived and returns:
    // after the first events served, or when the limit passed. May return
    // earlier; callers that wait for a time keep their own deadline. Handlers
    // run nested as in Pump(). The default serves what is waiting and then
    // sleeps out the limit (a pump with no event source to wait on).
    virtual void WaitFor(std::chrono::milliseconds limit) {
        Pump();
        std::this_thread::sleep_for(limit);
    }
};

// For callers with nothing to serve (command-line tools, benchmarks).
class NullEventPump final : public EventPump {
public:
    void Pump() override {}
};

}  // namespace zorvak
