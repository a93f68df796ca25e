// The ledgers: a settlement made ready before it is reported, recorded
// exactly once after, and finished or undone after whatever cut it short.
#pragma once

#include "exchange/exchange.h"
#include "exchange/journal.h"

#include <cstdint>

// A settlement between its report and its record: the journal that says
// "appending" on disk, and the three ledgers, open.
struct Settlement {
    Journal journal;
    int ledgers[3];
};

// Makes a settlement ready before anything is shown: the three ledgers and
// Accumulated.txt open, the journal written. Returns the path of the first
// file that could not be, with nothing held open and nothing a peer sees
// changed, or nullptr when the settlement may be reported and recorded.
const char* prepareSettlement(const char (&date)[9], std::int64_t busShare, std::int64_t metroShare,
                              std::int64_t total, const SettledBytes& settled, Settlement& settlement);

// Records the prepared settlement, exactly once, and hands the request
// back; what a failure leaves half done is finished or undone by
// settlePending.
void recordSettlement(Settlement& settlement);

// Finishes a settlement that the journal says is under way: undoes one
// whose ledger lines were not all on disk, completes one whose lines were.
// Run at start and at the top of every cycle; false while a settlement is
// still pending (its failure line printed), when no new one may start.
bool settlePending();
