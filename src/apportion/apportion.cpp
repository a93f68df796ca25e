#include "apportion/apportion.h"

#include <array>
#include <bit>
#include <cstring>

namespace {

enum Carrier { Other, Bus, Metro, Carriers };

// The fare table, a row a fare: the carrier named in the record, the
// amount paid, and the parts of it the bus and the metro operator get. The
// carrier named keeps the larger part of a shared fare; a metro ride
// transferred from a bus (300, 600) owes the metro operator more than was
// paid at its gate, and the bus operator gives up the difference.
struct FareRow {
    Carrier carrier;
    std::int64_t amount;
    std::int64_t busPart;
    std::int64_t metroPart;
};

constexpr FareRow fareTable[] = {
    {Bus, 1050, 1050, 0},     {Bus, 1250, 1050, 200},    {Bus, 1650, 1268, 382},    {Bus, 1750, 1470, 280},
    {Metro, 200, 0, 200},     {Metro, 300, -459, 759},   {Metro, 600, -408, 1008},  {Metro, 1050, 0, 1050},
    {Metro, 1250, 200, 1050}, {Metro, 1650, 382, 1268},  {Metro, 1750, 280, 1470},
};

// Besides the rows, a bus fare of any amount in this range is the bus
// operator's whole.
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

using SplitTable = std::array<std::array<Split, fareSlots>, Carriers>;

constexpr SplitTable buildSplits() {
    SplitTable table{};
    for (const FareRow& row : fareTable)
        table[row.carrier][static_cast<std::size_t>(row.amount) / fareStep] = {row.busPart, row.metroPart};
    return table;
}

constexpr SplitTable splits = buildSplits();

// What a record of this carrier and amount is split into. Compared as
// unsigned, so that an amount however far out of range cannot overflow, and
// combined with & rather than &&: fares and carriers alternate at random,
// and a branch on them would be mispredicted about every other record.
constexpr Split lookUp(Carrier carrier, std::int64_t amount) {
    auto value = static_cast<std::uint64_t>(amount);
    std::uint64_t slot = value / fareStep;
    bool fixed = (value - 1 < highestFare) & (slot * fareStep == value);
    const Split& split = splits[carrier][slot & (0 - std::uint64_t{fixed})];
    bool busRange = (carrier == Bus) & (value - busRangeLow <= busRangeHigh - busRangeLow);
    std::int64_t whole = -std::int64_t{busRange};
    return {(amount & whole) | (split.bus & ~whole), split.metro};
}

// The lookup finds every row of the table as it stands, and each row adds
// up to its amount: a row off the slots, or hidden behind the bus range,
// would otherwise silently never be applied.
constexpr bool everyRowIsFound() {
    for (const FareRow& row : fareTable) {
        Split split = lookUp(row.carrier, row.amount);
        if (split.bus != row.busPart || split.metro != row.metroPart || row.busPart + row.metroPart != row.amount)
            return false;
    }
    return true;
}

static_assert(everyRowIsFound(), "every row of the fare table is found by the lookup and adds up to its amount");

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

constexpr ModeWords busMode = wordsOf(busCarrier[0], busCarrier[1], busCarrier[2], 0, 0, 0);
constexpr ModeWords metroMode = wordsOf(metroCarrier[0], metroCarrier[1], metroCarrier[2], metroCarrier[3], metroCarrier[4], 0);
static_assert(sizeof busCarrier == 4 && sizeof metroCarrier == 6, "the words above spell the carrier names");

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

bool namesCarrier(const FareRecord& record) { return carrierOf(record) != Other; }

void Account(const std::vector<FareRecord>& records, std::int64_t& busShare,
             std::int64_t& metroShare, std::int64_t recordCount) {
    // Summed locally: the sums cannot then be taken to alias the amounts.
    std::int64_t bus = 0;
    std::int64_t metro = 0;
    for (std::int64_t i = 0; i < recordCount; ++i) {
        const FareRecord& record = records[static_cast<std::size_t>(i)];
        Split split = lookUp(carrierOf(record), record.amount);
        bus += split.bus;
        metro += split.metro;
    }
    busShare += bus;
    metroShare += metro;
}
