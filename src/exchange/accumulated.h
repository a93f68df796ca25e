// Accumulated.txt: reading it once per settlement, block by block.
#pragma once

#include "exchange/exchange.h"
#include "exchange/io.h"
#include "exchange/scan.h"

#include <cstdint>
#include <vector>

// Accumulated.txt as one cycle sees it: opened once at the start of the
// cycle and read, only when settling, through that same descriptor, in
// blocks; what was read is remembered so that exactly it is removed.
struct AccumulatedSnapshot {
    int fd;  // -1 once closed, or when the file could not be opened
    bool opened;
    bool failed;  // a read, or the fingerprint, failed: nothing may be settled
    DataCursor cursor;
    SettledBytes settled;
    RecordScan scan;
    std::vector<char> buffer;
    // The table: at its front, the records the last read handed out; it
    // holds about one block's records whatever the file's size.
    std::vector<FareRecord> records;
    bool atEnd;          // the read reached the end once: the rest is read under the lock
    bool locked;         // the appenders' lock is held
    bool secondPass;     // reading the settled bytes again (see needsSecondPass)
    bool finished;       // read to the end and closed
    std::size_t handed;  // records handed out by the last read, dropped by the next
    std::int64_t recordCount;  // whole records in what was read, known once finished
};

// The cycle's first look at the file: it is opened, so that a missing one
// is reported at once. The count itself comes with the one read, in
// `snapshot.recordCount`, so that it is the count of exactly what is read.
void dataCount(AccumulatedSnapshot& snapshot);

// Reads the next block: the first `recordCount` records of
// `snapshot.records` are then whole and counted, and their amounts added to
// `total`, the sum of every counted record's amount whatever its carrier.
// They are dropped by the next call. False once the file is read to its
// end.
bool AccumulatedRead(AccumulatedSnapshot& snapshot, std::int64_t& total, std::int64_t& recordCount);

// An idle cycle reads no record: the file is closed, and one that could not
// be opened reported as a read would report it.
void skipAccumulated(AccumulatedSnapshot& snapshot);
