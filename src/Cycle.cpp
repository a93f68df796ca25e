#include "Cycle.h"

#include "apportion/apportion.h"
#include "exchange/ledger.h"
#include "exchange/request.h"
#include "report/report.h"

void readAndDivide(AccumulatedSnapshot& snapshot, std::int64_t& total, std::int64_t& busShare,
                   std::int64_t& metroShare) {
    std::int64_t recordCount = 0;
    while (AccumulatedRead(snapshot, total, recordCount)) Account(snapshot.records, busShare, metroShare, recordCount);
}

void ReceivingSet(std::int64_t& trigger, char (&date)[9], AccumulatedSnapshot& snapshot, std::int64_t& total,
                  std::int64_t& busShare, std::int64_t& metroShare) {
    getTrigger(trigger);
    getDate(date);
    if (trigger == 1)
        readAndDivide(snapshot, total, busShare, metroShare);
    else
        skipAccumulated(snapshot);
}

void settle(const char (&date)[9], std::int64_t total, std::int64_t busShare, std::int64_t metroShare,
            const AccumulatedSnapshot& snapshot) {
    if (snapshot.failed) {
        showReadFailure();
        return;
    }
    // Every file it will write is open, and the journal written, before
    // the report says the settlement is complete.
    Settlement settlement;
    const char* unopened = prepareSettlement(date, busShare, metroShare, total, snapshot.settled, settlement);
    if (unopened != nullptr) {
        showUnopened(unopened);
        return;
    }
    showAccountSuccess(total, busShare, metroShare);
    recordSettlement(settlement);
}
