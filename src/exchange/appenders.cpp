#include "exchange/appenders.h"

#include <cerrno>
#include <ctime>
#include <sys/file.h>

namespace {

// How long the settlement waits for cooperating appenders to finish their
// write before it goes on without their lock.
constexpr int lockTries = 100;
constexpr long lockPauseNs = 10'000'000;

}  // namespace

bool lockAppenders(int fd) {
    for (int i = 0; i < lockTries; ++i) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) return false;
        timespec pause{0, lockPauseNs};
        ::nanosleep(&pause, nullptr);
    }
    return false;
}

void unlockAppenders(int fd) { ::flock(fd, LOCK_UN); }
