// Accumulated.txt: reading it once per settlement, block by block, and
// the appenders' lock.
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
    bool atEnd;          // the read reached the end once: the rest is read under the lock
    bool locked;         // the appenders' lock is held
    bool secondPass;     // reading the settled bytes again (see needsSecondPass)
    bool finished;       // read to the end and closed
    std::size_t handed;  // records handed out by the last read, dropped by the next
    std::int64_t recordCount;  // whole records in what was read, known once finished
};

// Opens the file for the cycle, so that a missing one is reported at once
// (the count itself comes with the one read).
void dataCount(AccumulatedSnapshot& snapshot);

// Reads the next block when `settling`: the first `recordCount` records of
// `records` are then whole and counted, their amounts added to `total`, and
// are dropped by the next call, so the table holds about one block. False
// once the file is read to its end, or when not settling (an idle cycle
// only closes the file).
bool AccumulatedRead(std::vector<FareRecord>& records, std::int64_t& recordCount, std::int64_t& total,
                     AccumulatedSnapshot& snapshot, bool settling);

// Takes, exclusively, the lock that cooperating appenders share while they
// write, waiting a moment for them; false when the caller goes on without.
bool lockAppenders(int fd);
void unlockAppenders(int fd);
