// Recording a settlement and handing the request back. The order is what
// keeps money from being lost or counted twice: every file must open before
// anything is written; the ledger lines are on disk before the settled
// records leave Accumulated.txt; and the trigger and success files are
// rewritten only once both are done. Any failure before the hand-back undoes
// the ledger lines, so the request stays and the same records are settled
// again at the next cycle.
#include "exchange/exchange.h"
#include "exchange/io.h"
#include "text/text.h"

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

// How long a settlement waits for cooperating appenders to finish their
// write before it cuts Accumulated.txt without their lock.
constexpr int lockTries = 100;
constexpr long lockPauseNs = 10'000'000;

constexpr std::size_t blankBlock = 65536;

int openLogged(const char* path, int flags, SettlementFiles& files) {
    int fd = openFile(path, flags);
    if (fd < 0) {
        printLine(openFailed);
        files.ok = false;
    }
    return fd;
}

off_t sizeOf(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? st.st_size : -1;
}

// Cuts every ledger back to its size before this settlement.
void rollBack(SettlementFiles& files) {
    const int fds[] = {files.account, files.bus, files.metro};
    const off_t sizes[] = {files.accountSize, files.busSize, files.metroSize};
    for (int i = 0; i < 3; ++i) {
        // A device such as /dev/full cannot be cut, and never took a byte.
        if (::ftruncate(fds[i], sizes[i]) == 0) syncFile(fds[i]);
    }
}

void fail(SettlementFiles& files) {
    printLine(openFailed);
    rollBack(files);
    files.ok = false;
}

void appendLine(SettlementFiles& files, int fd, const char* line, int length) {
    if (!files.ok) return;
    if (length < 0 || !writeAll(fd, line, static_cast<std::size_t>(length))) fail(files);
}

bool lockForCut(int fd) {
    for (int i = 0; i < lockTries; ++i) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) return false;
        timespec pause{0, lockPauseNs};
        ::nanosleep(&pause, nullptr);
    }
    return false;
}

// Overwrites the settled bytes with blanks, which every reader of the file
// skips, then gives the whole blocks among them back where the file system
// can remove a range from the front of a file.
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

}  // namespace

void recordSettlement(const char (&date)[9], std::int64_t busShare, std::int64_t metroShare,
                      std::int64_t total, const AccumulatedSnapshot& snapshot) {
    SettlementFiles files{};
    openSettlement(files);
    AccumulateRestore(files, date, busShare, metroShare, total);
    BusSend(files, busShare, date);
    MetroSend(files, metroShare, date);
    commitLedgers(files);
    Reset(files, snapshot);
    closeSettlement(files);
    FinishSignal(files);
}

void openSettlement(SettlementFiles& files) {
    files = SettlementFiles{-1, -1, -1, -1, 0, 0, 0, true};
    files.account = openLogged(accountPath, O_WRONLY | O_APPEND | O_CREAT, files);
    files.bus = openLogged(busAccountPath, O_WRONLY | O_APPEND | O_CREAT, files);
    files.metro = openLogged(metroAccountPath, O_WRONLY | O_APPEND | O_CREAT, files);
    files.accumulated = openLogged(accumulatedPath, O_RDWR | O_CREAT, files);
    if (!files.ok) return;
    files.accountSize = sizeOf(files.account);
    files.busSize = sizeOf(files.bus);
    files.metroSize = sizeOf(files.metro);
    if (files.accountSize < 0 || files.busSize < 0 || files.metroSize < 0) {
        printLine(openFailed);
        files.ok = false;
    }
}

void AccumulateRestore(SettlementFiles& files, const char (&date)[9], std::int64_t busShare,
                       std::int64_t metroShare, std::int64_t total) {
    char line[96];
    int length = std::snprintf(line, sizeof line, "%s\t%" PRId64 "\t%" PRId64 "\t%" PRId64 "\n",
                               date, busShare, metroShare, total);
    appendLine(files, files.account, line, length);
}

void BusSend(SettlementFiles& files, std::int64_t busShare, const char (&date)[9]) {
    char line[48];
    int length = std::snprintf(line, sizeof line, "%s\t%" PRId64 "\n", date, busShare);
    appendLine(files, files.bus, line, length);
}

void MetroSend(SettlementFiles& files, std::int64_t metroShare, const char (&date)[9]) {
    char line[48];
    int length = std::snprintf(line, sizeof line, "%s\t%" PRId64 "\n", date, metroShare);
    appendLine(files, files.metro, line, length);
}

void commitLedgers(SettlementFiles& files) {
    if (!files.ok) return;
    if (!syncFile(files.account) || !syncFile(files.bus) || !syncFile(files.metro)) fail(files);
}

void Reset(SettlementFiles& files, const AccumulatedSnapshot& snapshot) {
    if (!files.ok) return;
    int fd = files.accumulated;
    bool locked = lockForCut(fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        fail(files);
    } else if (!snapshot.opened || snapshot.bytes == 0 || st.st_dev != snapshot.device ||
               st.st_ino != snapshot.inode || st.st_size < snapshot.bytes) {
        // Nothing was read, or the file read is no longer there as it was:
        // what the file holds now was never settled, so it stays.
    } else if (st.st_size == snapshot.bytes) {
        if (::ftruncate(fd, 0) != 0) fail(files);
    } else if (!blankPrefix(fd, snapshot.bytes, st.st_size)) {
        fail(files);
    }
    if (locked) ::flock(fd, LOCK_UN);
    // The ledgers hold these records now; if the removal cannot be made
    // durable the operator is told, but the ledgers are not undone, since
    // the records are already gone from the file as the peers see it.
    if (files.ok && !syncFile(fd)) printLine(openFailed);
}

void closeSettlement(SettlementFiles& files) {
    // The ledgers were synced before anything depended on them; a close
    // that fails now is worth a line but loses nothing.
    for (int fd : {files.account, files.bus, files.metro, files.accumulated}) {
        if (fd >= 0 && !closeFile(fd) && files.ok) printLine(openFailed);
    }
    files.account = files.bus = files.metro = files.accumulated = -1;
}

void FinishSignal(const SettlementFiles& files) {
    if (!files.ok) return;
    if (!writeWholeFile(triggerPath, "0")) printLine(openFailed);
    if (!writeWholeFile(successPath, "1")) printLine(openFailed);
}
