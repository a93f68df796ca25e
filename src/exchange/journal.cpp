#include "exchange/journal.h"

#include "exchange/exchange.h"
#include "exchange/io.h"
#include "text/text.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char journalFormat[] = "fare-settle journal %s %" SCNd64 " %" SCNd64 " %" SCNd64
                                 " %" SCNd64 " %" SCNu64 " %" SCNu64 " %" SCNu64 "\n";
constexpr std::int64_t signatureSpan = 4096;
constexpr std::size_t blankBlock = 65536;

// How long a cut waits for cooperating appenders to finish their write
// before it goes on without their lock.
constexpr int lockTries = 100;
constexpr long lockPauseNs = 10'000'000;

bool syncDirectory() {
    int fd = openFile(".", O_RDONLY | O_DIRECTORY);
    if (fd < 0) return false;
    bool synced = syncFile(fd);
    return closeFile(fd) && synced;
}

std::uint64_t hashBytes(std::uint64_t hash, const char* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        hash ^= static_cast<unsigned char>(data[i]);
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

bool hashRange(int fd, off_t from, std::int64_t size, std::uint64_t& hash) {
    char buffer[signatureSpan];
    while (size > 0) {
        ssize_t n = ::pread(fd, buffer, static_cast<std::size_t>(std::min<std::int64_t>(size, signatureSpan)), from);
        if (n <= 0) return false;
        hash = hashBytes(hash, buffer, static_cast<std::size_t>(n));
        from += n;
        size -= n;
    }
    return true;
}

// Overwrites the settled bytes with blanks, which every reader of the file
// skips, then gives the whole blocks among them back where the file system
// can remove a range from the front of a file. Both steps can be repeated
// without harm, and neither can race with an O_APPEND writer.
bool blankPrefix(int fd, std::int64_t bytes, off_t size) {
    char blanks[blankBlock];
    std::memset(blanks, ' ', sizeof blanks);
    for (std::int64_t done = 0; done < bytes;) {
        auto n = static_cast<std::size_t>(std::min<std::int64_t>(bytes - done, blankBlock));
        if (!writeAllAt(fd, blanks, n, done)) return false;
        done += static_cast<std::int64_t>(n);
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_blksize > 0) {
        off_t whole = bytes / st.st_blksize * st.st_blksize;
        if (whole > 0 && whole < size) ::fallocate(fd, FALLOC_FL_COLLAPSE_RANGE, 0, whole);
    }
    return true;
}

void cutBack(const char* path, std::int64_t size) {
    int fd = openFile(path, O_WRONLY);
    if (fd < 0) return;  // a ledger that is gone has nothing to undo
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_size > size && ::ftruncate(fd, size) == 0) syncFile(fd);
    closeFile(fd);
}

void finishHandBack(const Journal& journal) {
    int fd = openFile(accumulatedPath, O_RDWR);
    if (fd >= 0) {
        bool locked = lockAppenders(fd);
        struct stat st {};
        std::uint64_t signature = 0;
        if (::fstat(fd, &st) == 0 && static_cast<std::uint64_t>(st.st_dev) == journal.device &&
            static_cast<std::uint64_t>(st.st_ino) == journal.inode && st.st_size >= journal.bytes &&
            journal.bytes > 0 && settledSignature(fd, journal.bytes, signature) &&
            signature == journal.signature) {
            if (!removeSettled(fd, journal.bytes, st.st_size) || !syncFile(fd)) printLine(openFailed);
        }
        if (locked) ::flock(fd, LOCK_UN);
        closeFile(fd);
    }
    if (!writeWholeFile(triggerPath, "0")) printLine(openFailed);
    if (!writeWholeFile(successPath, "1")) printLine(openFailed);
}

}  // namespace

bool writeJournal(const Journal& journal) {
    char line[256];
    int length = std::snprintf(line, sizeof line, journalFormat, journal.recorded ? "recorded" : "appending",
                               journal.accountSize, journal.busSize, journal.metroSize, journal.bytes,
                               journal.device, journal.inode, journal.signature);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof line) return false;
    int fd = openFile(journalNewPath, O_WRONLY | O_CREAT | O_TRUNC);
    if (fd < 0) return false;
    bool written = writeAll(fd, line, static_cast<std::size_t>(length)) && syncFile(fd);
    if (!closeFile(fd) || !written) return false;
    return ::rename(journalNewPath, journalPath) == 0 && syncDirectory();
}

bool removeJournal() {
    if (::unlink(journalPath) != 0 && errno != ENOENT) return false;
    return syncDirectory();
}

bool readJournal(Journal& journal) {
    int fd = openFile(journalPath, O_RDONLY);
    if (fd < 0) return false;
    char line[256] = {};
    ssize_t n = readSome(fd, line, sizeof line - 1);
    closeFile(fd);
    if (n <= 0) return false;
    char phase[16] = {};
    journal = Journal{};
    int fields = std::sscanf(line, "fare-settle journal %15s %" SCNd64 " %" SCNd64 " %" SCNd64 " %" SCNd64
                                   " %" SCNu64 " %" SCNu64 " %" SCNu64,
                             phase, &journal.accountSize, &journal.busSize, &journal.metroSize, &journal.bytes,
                             &journal.device, &journal.inode, &journal.signature);
    journal.recorded = std::strcmp(phase, "recorded") == 0;
    return fields == 8 && (journal.recorded || std::strcmp(phase, "appending") == 0);
}

bool lockAppenders(int fd) {
    for (int i = 0; i < lockTries; ++i) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) return false;
        timespec pause{0, lockPauseNs};
        ::nanosleep(&pause, nullptr);
    }
    return false;
}

bool settledSignature(int fd, std::int64_t bytes, std::uint64_t& signature) {
    std::int64_t span = std::min(bytes, signatureSpan);
    signature = 0xcbf29ce484222325ULL;
    return hashRange(fd, 0, span, signature) && hashRange(fd, bytes - span, span, signature);
}

bool removeSettled(int fd, std::int64_t bytes, off_t size) {
    if (size == bytes) return ::ftruncate(fd, 0) == 0;
    return blankPrefix(fd, bytes, size);
}

void recoverSettlement() {
    Journal journal{};
    bool found = readJournal(journal);
    if (!found) {
        // A journal that cannot be read was never completed by rename, so
        // nothing was appended under it.
        ::unlink(journalNewPath);
        if (::access(journalPath, F_OK) == 0) removeJournal();
        return;
    }
    if (journal.recorded) {
        finishHandBack(journal);
    } else {
        cutBack(accountPath, journal.accountSize);
        cutBack(busAccountPath, journal.busSize);
        cutBack(metroAccountPath, journal.metroSize);
    }
    if (!removeJournal()) printLine(openFailed);
}
