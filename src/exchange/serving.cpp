#include "exchange/serving.h"

#include "exchange/exchange.h"
#include "exchange/identity.h"
#include "exchange/io.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>

bool serveExchange(int& lock) {
    if (lock >= 0) {
        FileIdentity held{}, now{};
        if (identityOf(lock, held) && identityOfPath(exchangeDirPath, now) && sameFile(held, now)) return true;
        closeFile(lock);
        lock = -1;
    }
    int fd = openFile(exchangeDirPath, O_RDONLY | O_DIRECTORY);
    // A missing exchange directory is reported by the files in it.
    if (fd < 0) return true;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        lock = fd;
        return true;
    }
    bool taken = errno == EWOULDBLOCK;
    closeFile(fd);
    return !taken;
}

Serving exchangeServed(const char* dir) {
    int fd = openFile(dir, O_RDONLY | O_DIRECTORY);
    if (fd < 0) return Serving::Unknown;
    // A shared lock for an instant: it fails only against a server's
    // exclusive one, and a settler that tries in that instant tries again
    // at its next cycle.
    Serving serving = Serving::Unknown;
    if (::flock(fd, LOCK_SH | LOCK_NB) == 0) {
        serving = Serving::Free;
        ::flock(fd, LOCK_UN);
    } else if (errno == EWOULDBLOCK) {
        serving = Serving::Served;
    }
    closeFile(fd);
    return serving;
}
