#include "Stop.h"

#include "text/text.h"

#include <csignal>
#include <cstdlib>
#include <ctime>

namespace {

sigset_t stopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

}  // namespace

void blockStopSignals() {
    sigset_t set = stopSignals();
    sigprocmask(SIG_BLOCK, &set, nullptr);
}

int takeStopSignal() {
    sigset_t set = stopSignals();
    timespec now{0, 0};
    int signal = sigtimedwait(&set, nullptr, &now);
    return signal > 0 ? signal : 0;
}

void runCommand(const char* command) {
    int pending = takeStopSignal();
    // Whether the command worked changes nothing here.
    [[maybe_unused]] int status = std::system(command);
    // Still blocked, so raised it is pending again for the top of the cycle.
    if (pending != 0) std::raise(pending);
}

void endBySignal(int signal) {
    flushConsole();
    std::signal(signal, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    std::raise(signal);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    // Only reached if the signal's default action did not end the process.
    std::_Exit(128 + signal);
}
