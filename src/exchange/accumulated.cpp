// Reading the accumulated fare file. It is read once per cycle, in large
// blocks; the count and the records both come from that one read, so a
// settlement settles exactly the records it counted, whatever peers append
// meanwhile.
#include "exchange/exchange.h"
#include "exchange/io.h"
#include "exchange/scan.h"
#include "text/text.h"

#include <fcntl.h>
#include <limits>
#include <new>
#include <sys/stat.h>

namespace {

constexpr std::size_t readBlock = std::size_t{1} << 20;

// Real records are about 35 bytes; reserving for 32-byte ones means the
// table is allocated once for a normal file. Pages never filled cost nothing.
constexpr off_t bytesPerRecordGuess = 32;

std::int64_t addSaturating(std::int64_t a, std::int64_t b) {
    std::int64_t sum;
    if (!__builtin_add_overflow(a, b, &sum)) return sum;
    return b > 0 ? std::numeric_limits<std::int64_t>::max()
                 : std::numeric_limits<std::int64_t>::min();
}

}  // namespace

void dataCount(std::int64_t& recordCount, std::vector<FareRecord>& records,
               AccumulatedSnapshot& snapshot) {
    snapshot = AccumulatedSnapshot{};
    recordCount = 0;
    records.clear();
    int fd = openFile(accumulatedPath, O_RDONLY);
    if (fd < 0) {
        printLine(openFailedCount);
        return;
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0) {
        snapshot.device = st.st_dev;
        snapshot.inode = st.st_ino;
    }
    try {
        if (st.st_size > 0) records.reserve(static_cast<std::size_t>(st.st_size / bytesPerRecordGuess));
        std::vector<char> buffer(readBlock);
        RecordScan scan;
        startRecords(scan, records);
        ssize_t n;
        while ((n = readSome(fd, buffer.data(), buffer.size())) > 0) {
            scanRecords(scan, buffer.data(), static_cast<std::size_t>(n));
            snapshot.bytes += n;
        }
        // A read error ends the snapshot where it stopped; only the bytes
        // read are ever settled and removed.
        recordCount = finishRecords(scan);
        snapshot.opened = true;
    } catch (const std::bad_alloc&) {
        // A file too big for memory is left whole for a later cycle, and the
        // operator is told it could not be taken in.
        std::vector<FareRecord>().swap(records);
        snapshot = AccumulatedSnapshot{};
        recordCount = 0;
        printLine(openFailedCount);
    }
    closeFile(fd);
}

void AccumulatedRead(const std::vector<FareRecord>& records, std::int64_t& total,
                     std::int64_t recordCount, const AccumulatedSnapshot& snapshot) {
    if (!snapshot.opened) {
        printLine(openFailedRecords);
        return;
    }
    for (std::int64_t i = 0; i < recordCount; ++i)
        total = addSaturating(total, records[static_cast<std::size_t>(i)].amount);
}
