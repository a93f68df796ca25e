// Reading the accumulated fare file: in large blocks, once per settlement
// and never in an idle cycle. The count and the records come from that one
// read, so a settlement settles exactly the records it counted, whatever
// peers append meanwhile.
#include "apportion/apportion.h"
#include "exchange/exchange.h"
#include "exchange/io.h"
#include "exchange/journal.h"
#include "exchange/scan.h"
#include "text/text.h"

#include <fcntl.h>
#include <limits>
#include <sys/file.h>
#include <sys/stat.h>

namespace {

constexpr std::size_t readBlock = std::size_t{1} << 20;

std::int64_t addSaturating(std::int64_t a, std::int64_t b) {
    std::int64_t sum;
    if (!__builtin_add_overflow(a, b, &sum)) return sum;
    return b > 0 ? std::numeric_limits<std::int64_t>::max()
                 : std::numeric_limits<std::int64_t>::min();
}

// Adds the first `count` records of the table to the sums.
void settleRecords(const std::vector<FareRecord>& records, std::size_t count, std::int64_t& total,
                   std::int64_t& busShare, std::int64_t& metroShare) {
    for (std::size_t i = 0; i < count; ++i) total = addSaturating(total, records[i].amount);
    Account(records, busShare, metroShare, static_cast<std::int64_t>(count));
}

void closeSnapshot(AccumulatedSnapshot& snapshot) {
    if (snapshot.fd >= 0) closeFile(snapshot.fd);
    snapshot.fd = -1;
}

}  // namespace

void dataCount(std::int64_t& recordCount, AccumulatedSnapshot& snapshot) {
    snapshot = AccumulatedSnapshot{-1, false, 0, 0, 0};
    recordCount = 0;
    snapshot.fd = openFile(accumulatedPath, O_RDONLY);
    if (snapshot.fd < 0) {
        printLine(openFailedCount);
        return;
    }
    struct stat st {};
    if (::fstat(snapshot.fd, &st) == 0) {
        snapshot.device = st.st_dev;
        snapshot.inode = st.st_ino;
    }
    snapshot.opened = true;
}

void AccumulatedRead(std::vector<FareRecord>& records, std::int64_t& total,
                     std::int64_t& busShare, std::int64_t& metroShare,
                     std::int64_t& recordCount, AccumulatedSnapshot& snapshot, bool settling) {
    if (!snapshot.opened) {
        printLine(openFailedRecords);
        return;
    }
    if (!settling) {
        closeSnapshot(snapshot);
        return;
    }
    std::vector<char> buffer(readBlock);
    // Room for every record a block of ordinary records completes, so the
    // table is allocated once.
    records.reserve(readBlock / 16);
    RecordScan scan;
    startRecords(scan, records);
    auto readToEnd = [&] {
        ssize_t n;
        while ((n = readSome(snapshot.fd, buffer.data(), buffer.size())) > 0) {
            scanRecords(scan, buffer.data(), static_cast<std::size_t>(n));
            snapshot.bytes += n;
            std::size_t counted = countedRecords(scan);
            settleRecords(records, counted, total, busShare, metroShare);
            dropRecords(scan, counted);
        }
    };
    readToEnd();
    // The end of the file may be a peer's write still being copied in: with
    // the appenders' lock held none is, so what is read up to the end now is
    // whole records only. The lock is held for this last read alone.
    bool locked = lockAppenders(snapshot.fd);
    readToEnd();
    if (locked) ::flock(snapshot.fd, LOCK_UN);
    // A read error ends the snapshot where it stopped; only the bytes read
    // are settled, and only they are removed afterwards.
    recordCount = finishRecords(scan);
    settleRecords(records, records.size(), total, busShare, metroShare);
    closeSnapshot(snapshot);
}
