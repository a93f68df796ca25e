// The fingerprint of the settled bytes: taken as they are read, under the
// appenders' lock, and compared before anything is done to them.
#pragma once

#include "exchange/exchange.h"

// Fills everything of `settled` but `bytes` from the first `settled.bytes`
// bytes of the file open on `fd`; false when they cannot be read.
bool fingerprintSettled(int fd, SettledBytes& settled);

enum class SettledMatch : unsigned char {
    Same,        // the file begins with exactly the settled bytes
    Differs,     // it does not: what is there was never settled
    Unreadable,  // a read failed: nothing is known
};
SettledMatch matchSettled(int fd, const SettledBytes& settled);
