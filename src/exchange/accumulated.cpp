// Reading the accumulated fare file: in large blocks, once per settlement
// and never in an idle cycle. The count and the records come from that one
// read, so a settlement settles exactly the records it counted, whatever
// peers append meanwhile.
#include "exchange/accumulated.h"

#include "exchange/io.h"
#include "exchange/scan.h"
#include "text/text.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <limits>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::size_t readBlock = std::size_t{1} << 20;
constexpr std::int64_t tailSpan = 4096;
constexpr std::size_t blankBlock = 65536;

// How long the settlement waits for cooperating appenders to finish their
// write before it goes on without their lock.
constexpr int lockTries = 100;
constexpr long lockPauseNs = 10'000'000;

void addAmounts(const std::vector<FareRecord>& records, std::size_t count, std::int64_t& total) {
    for (std::size_t i = 0; i < count; ++i) total = addSaturating(total, records[i].amount);
}

std::size_t headLength(const SettledBytes& settled) {
    return static_cast<std::size_t>(std::clamp<std::int64_t>(settled.bytes, 0, settledHeadRoom));
}

std::uint64_t hashBytes(std::uint64_t hash, const char* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        hash ^= static_cast<unsigned char>(data[i]);
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

// The hash of the settled bytes past the head, at most their last 4 KiB:
// the head may carry the mark, these never change until they are removed.
bool hashTail(int fd, const SettledBytes& settled, std::uint64_t& hash) {
    std::int64_t from = std::max<std::int64_t>(static_cast<std::int64_t>(headLength(settled)),
                                               settled.bytes - tailSpan);
    char buffer[tailSpan];
    auto size = static_cast<std::size_t>(settled.bytes - from);
    hash = 0xcbf29ce484222325ULL;
    if (!readAllAt(fd, buffer, size, from)) return false;
    hash = hashBytes(hash, buffer, size);
    return true;
}

// The mark: blanks and tabs, which every reader skips, over the head of the
// settled bytes. It begins with a tab, where a blanked or collapsed front
// begins with a blank, and its last byte differs from the head's, so that
// a mark cut short by a power cut never reads as a whole one.
void settledMark(const SettledBytes& settled, char (&mark)[settledHeadRoom]) {
    std::size_t m = headLength(settled);
    std::uint64_t bits = settled.tailHash ^ (static_cast<std::uint64_t>(settled.bytes) * 0x9E3779B97F4A7C15ULL);
    for (std::size_t i = 0; i < m; ++i) mark[i] = (i == 0 || ((bits >> i) & 1) != 0) ? '\t' : ' ';
    if (m >= 2 && mark[m - 1] == settled.head[m - 1]) mark[m - 1] = mark[m - 1] == ' ' ? '\t' : ' ';
}

bool blankRange(int fd, std::int64_t from, std::int64_t to, std::int64_t& written) {
    char blanks[blankBlock];
    std::memset(blanks, ' ', sizeof blanks);
    while (from < to) {
        auto n = static_cast<std::size_t>(std::min<std::int64_t>(to - from, blankBlock));
        if (!writeAllAt(fd, blanks, n, from)) return false;
        from += static_cast<std::int64_t>(n);
        written += static_cast<std::int64_t>(n);
    }
    return true;
}

void closeSnapshot(AccumulatedSnapshot& snapshot) {
    if (snapshot.fd >= 0) closeFile(snapshot.fd);
    snapshot.fd = -1;
}

}  // namespace

void dataCount(AccumulatedSnapshot& snapshot) {
    snapshot = AccumulatedSnapshot{};
    snapshot.fd = openFile(accumulatedPath, O_RDONLY);
    if (snapshot.fd < 0) {
        printLine(openFailedCount);
        return;
    }
    struct stat st {};
    if (::fstat(snapshot.fd, &st) == 0) {
        snapshot.settled.device = static_cast<std::uint64_t>(st.st_dev);
        snapshot.settled.inode = static_cast<std::uint64_t>(st.st_ino);
    }
    snapshot.opened = true;
}

bool AccumulatedRead(std::vector<FareRecord>& records, std::int64_t& recordCount, std::int64_t& total,
                     AccumulatedSnapshot& snapshot, bool settling) {
    recordCount = 0;
    if (!snapshot.opened) {
        printLine(openFailedRecords);
        return false;
    }
    if (!settling || snapshot.finished) {
        closeSnapshot(snapshot);
        return false;
    }
    if (snapshot.buffer.empty()) {
        snapshot.buffer.resize(readBlock);
        // Room for every record a block of ordinary records completes, so the
        // table is allocated once.
        records.clear();
        records.reserve(readBlock / 16);
        startRecords(snapshot.scan, records);
    }
    dropRecords(snapshot.scan, snapshot.handed);
    for (;;) {
        ssize_t n = readSome(snapshot.fd, snapshot.buffer.data(), snapshot.buffer.size());
        if (n > 0) {
            scanRecords(snapshot.scan, snapshot.buffer.data(), static_cast<std::size_t>(n));
            snapshot.settled.bytes += n;
            snapshot.handed = countedRecords(snapshot.scan);
            break;
        }
        // The end of the file may be a peer's write still being copied in:
        // with the appenders' lock held none is, so what is read up to the
        // end now is whole records only. A read error ends the snapshot
        // where it stopped; only the bytes read are settled and removed.
        if (n == 0 && !snapshot.atEnd) {
            snapshot.atEnd = true;
            snapshot.locked = lockAppenders(snapshot.fd);
            continue;
        }
        // Taken before the lock is let go, and so of exactly the bytes read.
        fingerprintSettled(snapshot.fd, snapshot.settled);
        if (snapshot.locked) unlockAppenders(snapshot.fd);
        closeSnapshot(snapshot);
        snapshot.recordCount = finishRecords(snapshot.scan);
        snapshot.handed = records.size();
        snapshot.finished = true;
        break;
    }
    recordCount = static_cast<std::int64_t>(snapshot.handed);
    addAmounts(records, snapshot.handed, total);
    return true;
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

void unlockAppenders(int fd) { ::flock(fd, LOCK_UN); }

bool fingerprintSettled(int fd, SettledBytes& settled) {
    std::memset(settled.head, 0, sizeof settled.head);
    return readAllAt(fd, settled.head, headLength(settled), 0) && hashTail(fd, settled, settled.tailHash);
}

SettledPlace findSettled(int fd, const SettledBytes& settled, bool marked) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || static_cast<std::uint64_t>(st.st_dev) != settled.device ||
        static_cast<std::uint64_t>(st.st_ino) != settled.inode)
        return SettledPlace::Changed;
    std::size_t m = headLength(settled);
    if (m == 0) return SettledPlace::Gone;
    char mark[settledHeadRoom];
    settledMark(settled, mark);
    char head[settledHeadRoom] = {};
    bool whole = st.st_size >= static_cast<off_t>(m) && readAllAt(fd, head, m, 0);
    if (whole && std::memcmp(head, mark, m) == 0) return SettledPlace::Marked;
    // Once the journal knows the mark was on disk, a front without it means
    // the removal ran: whatever is there now came after.
    if (marked) return SettledPlace::Gone;
    if (!whole || st.st_size < settled.bytes) return SettledPlace::Changed;
    // Untouched but for a mark that a power cut may have left half written.
    std::size_t k = 0;
    while (k < m && head[k] == mark[k]) ++k;
    std::uint64_t tail = 0;
    if (std::memcmp(head + k, settled.head + k, m - k) != 0 || !hashTail(fd, settled, tail) ||
        tail != settled.tailHash)
        return SettledPlace::Changed;
    return SettledPlace::Untouched;
}

bool markSettled(int fd, const SettledBytes& settled) {
    char mark[settledHeadRoom];
    settledMark(settled, mark);
    return writeAllAt(fd, mark, headLength(settled), 0) && syncFile(fd);
}

bool cutSettled(int fd, const SettledBytes& settled, std::int64_t& written) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return false;
    if (st.st_size == settled.bytes) {
        // Nothing follows: the file goes back to empty, as when it began.
        if (::ftruncate(fd, 0) != 0) return false;
        return syncFile(fd);
    }
    std::int64_t block = st.st_blksize > 0 ? st.st_blksize : 4096;
    std::int64_t whole = settled.bytes / block * block;
    bool collapsed = false;
    if (whole > 0) {
        // What the collapse leaves of the settled bytes, less than a block,
        // becomes blanks first, so that the front is never a record.
        if (!blankRange(fd, whole, settled.bytes, written)) return false;
        collapsed = ::fallocate(fd, FALLOC_FL_COLLAPSE_RANGE, 0, whole) == 0;
        if (!collapsed && errno != EOPNOTSUPP && errno != EINVAL) return false;
    }
    if (!collapsed) {
        // The mark goes last, once every other settled byte is a blank on
        // disk, so that a repeat after any failure finds it and goes on.
        auto m = static_cast<std::int64_t>(headLength(settled));
        if (!blankRange(fd, m, settled.bytes, written) || !syncFile(fd) || !blankRange(fd, 0, m, written))
            return false;
    }
    return syncFile(fd);
}
