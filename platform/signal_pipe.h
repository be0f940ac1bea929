#pragma once

namespace zorvak {

// Requests from outside to end the process (SIGTERM, SIGINT, SIGHUP on Linux)
// turned into a descriptor the event loop can watch, so that they are served
// on the GUI thread like any other event. One instance per process at a time.
class SignalPipe {
public:
    // Installs the handlers; the descriptor becomes readable whenever such a
    // request arrives.
    SignalPipe();
    // Puts the default handlers back; later requests end the process at once.
    ~SignalPipe();
    SignalPipe(const SignalPipe&) = delete;
    SignalPipe& operator=(const SignalPipe&) = delete;

    // -1 where the OS sends no such requests (Windows) or the descriptor
    // cannot be made.
    int Descriptor() const { return descriptor_; }

    // Reads away the requests waiting on the descriptor.
    void Drain();

private:
    int descriptor_ = -1;
};

}  // namespace zorvak
