// Accumulated.txt: reading it once per settlement, block by block, and
// what a settlement does to it afterwards: the appenders' lock, the
// fingerprint of the settled bytes, and their removal.
#pragma once

#include "exchange/exchange.h"
#include "exchange/scan.h"

#include <cstdint>
#include <vector>

// Accumulated.txt as one cycle sees it: opened once at the start of the
// cycle and read, only when settling, through that same descriptor, in
// blocks; what was read is remembered so that exactly it is removed.
struct AccumulatedSnapshot {
    int fd;  // -1 once closed, or when the file could not be opened
    bool opened;
    SettledBytes settled;
    RecordScan scan;
    std::vector<char> buffer;
    bool atEnd;          // the read reached the end once: the rest is read under the lock
    bool locked;         // the appenders' lock is held
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

// Fills everything of `settled` but the identity from the first
// `settled.bytes` bytes of the file open on `fd`.
bool fingerprintSettled(int fd, SettledBytes& settled);

// Where the settled bytes are now, in the file open on `fd`. `marked` says
// the journal knows the mark is on disk, so that a head without it means
// the removal has run.
enum class SettledPlace : unsigned char {
    Untouched,  // all there, as read (perhaps with part of the mark)
    Marked,     // the mark is at the front: removal begun, not finished
    Gone,       // removed
    Changed,    // the file is not the one read, or not as it was read
};
SettledPlace findSettled(int fd, const SettledBytes& settled, bool marked);

// Writes the mark of blanks over the first settled bytes and fsyncs it.
bool markSettled(int fd, const SettledBytes& settled);

// Removes the settled bytes, which must be Marked, and fsyncs the file:
// cut to zero when nothing follows them; otherwise whole blocks collapsed
// from the front and the rest blanked, or, where the file system cannot
// collapse, all of them blanked. Adds the bytes it wrote to `written`.
bool cutSettled(int fd, const SettledBytes& settled, std::int64_t& written);
