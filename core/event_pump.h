#pragma once

namespace zorvak {

// The one thread's way of letting other work run in the middle of a long
// operation. Pump() processes what is waiting (timer ticks, keys, clicks) and
// returns without waiting for more. Any handler of the application may run
// nested inside Pump(), including one that starts the same operation again.
class EventPump {
public:
    virtual ~EventPump() = default;
    virtual void Pump() = 0;
};

// For callers with nothing to serve (command-line tools, benchmarks).
class NullEventPump final : public EventPump {
public:
    void Pump() override {}
};

}  // namespace zorvak
