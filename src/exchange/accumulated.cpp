// Reading the accumulated fare file: in large blocks, once per settlement
// and never in an idle cycle. The count and the records come from that one
// read, so a settlement settles exactly the records it counted, whatever
// peers append meanwhile.
#include "exchange/accumulated.h"

#include "exchange/appenders.h"
#include "exchange/fingerprint.h"
#include "exchange/io.h"
#include "exchange/scan.h"
#include "text/text.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::size_t readBlock = std::size_t{1} << 20;

// The total is every counted record's amount, whatever its carrier, the
// shares only what the fare table divides: so the two can differ.
void addAmounts(const std::vector<FareRecord>& records, std::size_t count, std::int64_t& total) {
    for (std::size_t i = 0; i < count; ++i) total = addSaturating(total, records[i].amount);
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
    snapshot.opened = true;
}

void skipAccumulated(AccumulatedSnapshot& snapshot) {
    if (!snapshot.opened) printLine(openFailedRecords);
    closeSnapshot(snapshot);
}

bool AccumulatedRead(AccumulatedSnapshot& snapshot, std::int64_t& total, std::int64_t& recordCount) {
    recordCount = 0;
    if (!snapshot.opened) {
        printLine(openFailedRecords);
        return false;
    }
    if (snapshot.finished) return false;
    std::vector<FareRecord>& records = snapshot.records;
    if (snapshot.buffer.empty()) {
        snapshot.buffer.resize(readBlock);
        // Room for every record one block can complete (a record takes at
        // least eight bytes) and for those waiting to be counted, so that
        // the table is allocated once.
        records.clear();
        records.reserve(readBlock / 8 + surplusRoom + 2);
        startRecords(snapshot.scan, records);
    }
    dropRecords(snapshot.scan, snapshot.handed);
    for (;;) {
        // A second pass reads exactly the bytes the first one settled, and
        // no further than the last counted record.
        std::size_t want = snapshot.buffer.size();
        if (snapshot.secondPass)
            want = secondPassDone(snapshot.scan)
                       ? 0
                       : static_cast<std::size_t>(std::min<std::int64_t>(
                             snapshot.settled.bytes - snapshot.cursor.offset, static_cast<std::int64_t>(want)));
        ssize_t n = want == 0 ? 0 : readData(snapshot.fd, snapshot.cursor, snapshot.buffer.data(), want);
        if (n > 0) {
            scanRecords(snapshot.scan, snapshot.buffer.data(), static_cast<std::size_t>(n));
            if (!snapshot.secondPass) snapshot.settled.bytes = snapshot.cursor.offset;
            snapshot.handed = readyRecords(snapshot.scan);
            break;
        }
        // The end of the file may be a peer's write still being copied in:
        // with the appenders' lock held none is, so what is read up to the
        // end now is whole records only. A read error fails the whole
        // settlement: a part of the file is never settled as if it were all.
        if (n == 0 && !snapshot.atEnd) {
            snapshot.atEnd = true;
            snapshot.locked = lockAppenders(snapshot.fd);
            continue;
        }
        if (n < 0) snapshot.failed = true;
        if (!snapshot.secondPass) {
            // Taken before the lock is let go, and so of exactly the bytes read.
            if (!snapshot.failed && !fingerprintSettled(snapshot.fd, snapshot.settled)) snapshot.failed = true;
            if (snapshot.locked) unlockAppenders(snapshot.fd);
            snapshot.recordCount = finishRecords(snapshot.scan);
            if (!snapshot.failed && needsSecondPass(snapshot.scan, snapshot.recordCount)) {
                startSecondPass(snapshot.scan, snapshot.recordCount);
                snapshot.secondPass = true;
                snapshot.cursor = DataCursor{};
                continue;
            }
        } else {
            finishRecords(snapshot.scan);
            // The second pass settles what the first one counted only if the
            // bytes are still the ones fingerprinted.
            if (!snapshot.failed && matchSettled(snapshot.fd, snapshot.settled) != SettledMatch::Same)
                snapshot.failed = true;
        }
        closeSnapshot(snapshot);
        snapshot.handed = records.size();
        snapshot.finished = true;
        break;
    }
    recordCount = static_cast<std::int64_t>(snapshot.handed);
    addAmounts(records, snapshot.handed, total);
    return true;
}
