#include "platform/signal_pipe.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <initializer_list>

namespace zorvak {

namespace {

int gPipe[2] = {-1, -1};

void OnSignal(int) {
    const int saved = errno;
    char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(gPipe[1], &byte, 1);
    errno = saved;
}

void SetHandler(void (*handler)(int)) {
    struct sigaction sa {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(sig, &sa, nullptr);
}

}  // namespace

SignalPipe::SignalPipe() {
    if (gPipe[0] < 0 && ::pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    SetHandler(OnSignal);
    descriptor_ = gPipe[0];
}

SignalPipe::~SignalPipe() { SetHandler(SIG_DFL); }

void SignalPipe::Drain() {
    if (descriptor_ < 0) return;
    char buf[16];
    while (::read(descriptor_, buf, sizeof buf) > 0) {
    }
}

}  // namespace zorvak
