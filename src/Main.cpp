// fare-settle: settles fare revenue between the bus and the metro operator.
// Every cycle it reads the exchange directory afresh; when the trigger file
// asks for it, it divides the accumulated fares, shows and records the sums,
// and hands the request back. It runs until a signal stops it.
#include "Stop.h"
#include "apportion/apportion.h"
#include "exchange/exchange.h"
#include "report/report.h"
#include "text/text.h"

#include <cstdint>
#include <vector>

namespace {

void ReceivingSet(std::int64_t& trigger, char (&date)[9], const std::vector<FareRecord>& records,
                  std::int64_t& total, std::int64_t recordCount,
                  const AccumulatedSnapshot& snapshot) {
    getTrigger(trigger);
    getDate(date);
    AccumulatedRead(records, total, recordCount, snapshot);
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

        std::int64_t total = 0;
        std::int64_t busShare = 0;
        std::int64_t metroShare = 0;
        std::int64_t recordCount = 0;
        std::vector<FareRecord> records;
        AccumulatedSnapshot snapshot{};

        dataCount(recordCount, records, snapshot);
        ReceivingSet(trigger, date, records, total, recordCount, snapshot);

        if (trigger == 1) {
            Account(records, busShare, metroShare, recordCount);
            showAccountSuccess(total, busShare, metroShare, stop);
            recordSettlement(date, busShare, metroShare, total, snapshot);
        } else {
            clearScreen(stop);
            printText(idleText);
            flushConsole();
        }
    }
}
