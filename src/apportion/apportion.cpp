#include "apportion/apportion.h"

#include <array>
#include <bit>
#include <cstring>

namespace {

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

// Metro fares of its own: a plain ride, and two transfers from a bus, for
// which the metro operator is owed more than the fare paid at its gate and
// the bus operator gives up the difference.
struct MetroFare {
    std::int64_t amount;
    std::int64_t metroPart;
    std::int64_t busPart;
};

constexpr MetroFare metroFares[] = {
    {200, 200, 0},
    {300, 759, -459},
    {600, 1008, -408},
};

// Bus-only fares are any amount in this range, kept whole by the bus.
constexpr std::uint64_t busRangeLow = 100;
constexpr std::uint64_t busRangeHigh = 700;

// Every fixed fare above is a multiple of 50 up to 1750, so the rows become
// a lookup by carrier and amount / 50: a city's day of taps is then divided
// without a branch that depends on the fare.
constexpr std::uint64_t fareStep = 50;
constexpr std::uint64_t highestFare = 1750;
constexpr std::size_t fareSlots = highestFare / fareStep + 1;

struct Split {
    std::int64_t bus;
    std::int64_t metro;
};

enum Carrier { Other, Bus, Metro, Carriers };

using SplitTable = std::array<std::array<Split, fareSlots>, Carriers>;

constexpr SplitTable buildSplits() {
    SplitTable table{};
    for (const SharedFare& f : sharedFares) {
        table[Bus][f.amount / fareStep] = {f.carrierPart, f.otherPart};
        table[Metro][f.amount / fareStep] = {f.otherPart, f.carrierPart};
    }
    for (const MetroFare& f : metroFares) table[Metro][f.amount / fareStep] = {f.busPart, f.metroPart};
    return table;
}

constexpr SplitTable splits = buildSplits();

static_assert(splits[Bus][1650 / fareStep].bus == 1268 && splits[Metro][300 / fareStep].bus == -459);

// The carrier names as FareRecord::mode holds them: padded with zeros to
// its six bytes, so a longer token can never pass for one of them. The six
// bytes are compared as a 4-byte and a 2-byte word, without branching, since
// carriers alternate at random in a day's taps.
struct ModeWords {
    std::uint32_t head;
    std::uint16_t tail;
};

constexpr ModeWords wordsOf(char a, char b, char c, char d, char e, char f) {
    return {std::bit_cast<std::uint32_t>(std::array<char, 4>{a, b, c, d}),
            std::bit_cast<std::uint16_t>(std::array<char, 2>{e, f})};
}

constexpr ModeWords busMode = wordsOf('B', 'U', 'S', 0, 0, 0);
constexpr ModeWords metroMode = wordsOf('M', 'E', 'T', 'R', 'O', 0);

Carrier carrierOf(const FareRecord& record) {
    std::uint32_t head;
    std::uint16_t tail;
    std::memcpy(&head, record.mode, sizeof head);
    std::memcpy(&tail, record.mode + sizeof head, sizeof tail);
    int bus = (head == busMode.head) & (tail == busMode.tail);
    int metro = (head == metroMode.head) & (tail == metroMode.tail);
    return static_cast<Carrier>(bus * Bus + metro * Metro);
}

}  // namespace

void Account(const std::vector<FareRecord>& records, std::int64_t& busShare,
             std::int64_t& metroShare, std::int64_t recordCount) {
    // Summed locally: the sums cannot then be taken to alias the amounts.
    std::int64_t bus = 0;
    std::int64_t metro = 0;
    for (std::int64_t i = 0; i < recordCount; ++i) {
        const FareRecord& record = records[static_cast<std::size_t>(i)];
        Carrier carrier = carrierOf(record);
        // Compared as unsigned, so that an amount however far out of range
        // cannot overflow, and combined with & rather than &&: fares and
        // carriers alternate at random, and a branch on them would be
        // mispredicted about every other record.
        auto amount = static_cast<std::uint64_t>(record.amount);
        std::uint64_t slot = amount / fareStep;
        bool fixed = (amount - 1 < highestFare) & (slot * fareStep == amount);
        const Split& split = splits[carrier][slot & (0 - std::uint64_t{fixed})];
        bool busRange = (carrier == Bus) & (amount - busRangeLow <= busRangeHigh - busRangeLow);
        std::int64_t whole = -std::int64_t{busRange};
        bus += (record.amount & whole) | (split.bus & ~whole);
        metro += split.metro;
    }
    busShare += bus;
    metroShare += metro;
}
