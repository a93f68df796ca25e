// What a settlement does to Accumulated.txt besides reading it: the
// appenders' lock, the fingerprint of the settled bytes, and their removal.
#pragma once

#include "exchange/exchange.h"

#include <cstdint>

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
