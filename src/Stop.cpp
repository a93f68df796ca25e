#include "Stop.h"

#include "text/text.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

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
    // The child starts with no signal blocked and the stop signals at their
    // defaults, so Ctrl-C ends it as it would any command; here they stay
    // blocked and pending throughout, never ignored, so none is lost.
    sigset_t none;
    sigemptyset(&none);
    sigset_t stops = stopSignals();
    posix_spawnattr_t attributes;
    if (posix_spawnattr_init(&attributes) != 0) return;
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &stops);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    char shell[] = "sh";
    char dashC[] = "-c";
    char* argv[] = {shell, dashC, const_cast<char*>(command), nullptr};
    pid_t child = -1;
    // Whether the command worked changes nothing here.
    if (posix_spawn(&child, "/bin/sh", nullptr, &attributes, argv, environ) == 0) {
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    }
    posix_spawnattr_destroy(&attributes);
}

void endBySignal(int signal) {
    // The idle text has no line end: on a terminal the shell's prompt
    // starts on a line of its own.
    if (::isatty(STDOUT_FILENO) == 1) printLine("");
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
