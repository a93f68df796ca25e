// fare-settle: settles fare revenue between the bus and the metro operator.
// Every cycle it reads the exchange directory afresh; when the trigger file
// asks for it, it divides the accumulated fares, shows and records the sums,
// and hands the request back. It runs until a signal stops it.
#include "Cycle.h"
#include "Stop.h"
#include "exchange/accumulated.h"
#include "exchange/ledger.h"
#include "exchange/serving.h"
#include "report/report.h"

#include <cstdint>

int main() {
    blockStopSignals();
    // `trigger` and `date` carry from one cycle into the next; a trigger file
    // that cannot be read leaves the last request in force.
    std::int64_t trigger = 0;
    char date[9] = {};
    // The exchange directory, held for as long as this program serves it.
    int exchangeLock = -1;

    for (;;) {
        if (int stop = takeStopSignal()) endBySignal(stop);
        // Another settlement program serves the directory: nothing is read
        // or written, not even its journal, until that one ends.
        if (!serveExchange(exchangeLock)) {
            showAnotherSettler();
            continue;
        }
        // A settlement that a kill, a power cut or a failure cut short is
        // undone or finished before anything else is read; while it cannot
        // be, no new one may begin.
        if (!settlePending()) {
            holdFailure();
            continue;
        }

        std::int64_t total = 0;
        std::int64_t busShare = 0;
        std::int64_t metroShare = 0;
        AccumulatedSnapshot snapshot{};

        dataCount(snapshot);
        ReceivingSet(trigger, date, snapshot, total, busShare, metroShare);

        if (trigger == 1)
            settle(date, total, busShare, metroShare, snapshot);
        else
            showIdle();
    }
}
