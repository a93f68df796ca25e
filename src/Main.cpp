// fare-settle: settles fare revenue between the bus and the metro operator.
// Every cycle it reads the exchange directory afresh; when the trigger file
// asks for it, it divides the accumulated fares, shows and records the sums,
// and hands the request back. It runs until a signal stops it.
#include "Stop.h"
#include "exchange/exchange.h"
#include "exchange/journal.h"
#include "report/report.h"
#include "text/text.h"

#include <cstdint>
#include <vector>

namespace {

// The request comes first so that the records are read only when they are
// to be settled; an idle cycle costs the same whatever the file holds.
void ReceivingSet(std::int64_t& trigger, char (&date)[9], std::vector<FareRecord>& records,
                  std::int64_t& total, std::int64_t& busShare, std::int64_t& metroShare,
                  std::int64_t& recordCount, AccumulatedSnapshot& snapshot) {
    getTrigger(trigger);
    getDate(date);
    AccumulatedRead(records, total, busShare, metroShare, recordCount, snapshot, trigger == 1);
}

}  // namespace

int main() {
    blockStopSignals();
    // `trigger` and `date` carry from one cycle into the next; a trigger file
    // that cannot be read leaves the last request in force.
    std::int64_t trigger = 0;
    char date[9] = {};
    int stop = 0;

    for (;;) {
        if (stop == 0) stop = takeStopSignal();
        if (stop != 0) endBySignal(stop);
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
        std::int64_t recordCount = 0;
        std::vector<FareRecord> records;
        AccumulatedSnapshot snapshot{};

        dataCount(recordCount, snapshot);
        ReceivingSet(trigger, date, records, total, busShare, metroShare, recordCount, snapshot);

        if (trigger == 1 && !journalWritable()) {
            showJournalFailure(stop);
        } else if (trigger == 1) {
            showAccountSuccess(total, busShare, metroShare, stop);
            recordSettlement(date, busShare, metroShare, total, snapshot);
        } else {
            clearScreen(stop);
            printText(idleText);
            flushConsole();
        }
    }
}
