#include "apportion/apportion.h"

#include <cstring>

namespace {

// The carrier names as FareRecord::mode holds them: padded with zeros to
// its six bytes, so a longer token can never pass for one of them.
constexpr char busMode[6] = {'B', 'U', 'S', 0, 0, 0};
constexpr char metroMode[6] = {'M', 'E', 'T', 'R', 'O', 0};

// Fares that both carriers share. The named carrier keeps the larger part,
// the other operator receives the rest.
struct SharedFare {
    std::int64_t amount;
    std::int64_t carrierPart;
    std::int64_t otherPart;
};

constexpr SharedFare sharedFares[] = {
    {1650, 1268, 382},
    {1750, 1470, 280},
    {1250, 1050, 200},
    {1050, 1050, 0},
};

// Applies a shared fare to the carrier's and the other operator's sums.
void applyShared(std::int64_t amount, std::int64_t& carrier, std::int64_t& other) {
    for (const SharedFare& fare : sharedFares) {
        if (fare.amount == amount) {
            carrier += fare.carrierPart;
            other += fare.otherPart;
            return;
        }
    }
}

void apportionBus(std::int64_t amount, std::int64_t& busShare, std::int64_t& metroShare) {
    // Bus-only fares are any amount in this range, kept whole.
    if (amount >= 100 && amount <= 700) {
        busShare += amount;
        return;
    }
    applyShared(amount, busShare, metroShare);
}

void apportionMetro(std::int64_t amount, std::int64_t& busShare, std::int64_t& metroShare) {
    switch (amount) {
    case 200:
        metroShare += 200;
        return;
    // Transfers from a bus: the metro operator is owed more than the fare
    // paid at its gate, and the bus operator gives up the difference.
    case 300:
        metroShare += 759;
        busShare -= 459;
        return;
    case 600:
        metroShare += 1008;
        busShare -= 408;
        return;
    default:
        applyShared(amount, metroShare, busShare);
    }
}

}  // namespace

void Account(const std::vector<FareRecord>& records, std::int64_t& busShare,
             std::int64_t& metroShare, std::int64_t recordCount) {
    for (std::int64_t i = 0; i < recordCount; ++i) {
        const FareRecord& record = records[static_cast<std::size_t>(i)];
        if (std::memcmp(record.mode, busMode, sizeof busMode) == 0)
            apportionBus(record.amount, busShare, metroShare);
        else if (std::memcmp(record.mode, metroMode, sizeof metroMode) == 0)
            apportionMetro(record.amount, busShare, metroShare);
    }
}
