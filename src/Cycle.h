// The steps of one cycle, called by main and, as they are, by the tests
// and the benchmark: the input step, and the settlement sequence.
#pragma once

#include "exchange/accumulated.h"

#include <cstdint>

// The cycle's input step: the request, the date, then, only when they are
// to be settled, the records (readAndDivide); an idle cycle reads none.
void ReceivingSet(std::int64_t& trigger, char (&date)[9], AccumulatedSnapshot& snapshot, std::int64_t& total,
                  std::int64_t& busShare, std::int64_t& metroShare);

// The records, a block at a time, each block divided as it comes, so that
// memory stays at one block whatever the size of the file.
void readAndDivide(AccumulatedSnapshot& snapshot, std::int64_t& total, std::int64_t& busShare,
                   std::int64_t& metroShare);

// The settlement sequence, once the records are read: refused when they
// could not be read whole; otherwise made ready (every file it writes open,
// the journal written), reported, and recorded; or, when a file cannot be
// made ready, the screen that names it instead of the report.
void settle(const char (&date)[9], std::int64_t total, std::int64_t busShare, std::int64_t metroShare,
            const AccumulatedSnapshot& snapshot);
