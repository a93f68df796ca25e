// Generated records: reproducible, well formed, and summed by the peer's
// tariff exactly as the settlement program's reader and table sum them.
#include "apportion/apportion.h"
#include "exchange/scan.h"
#include "peer/peer.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

std::string generate(std::uint64_t seed, FareMix mix, long long count, FareSums& sums) {
    std::mt19937_64 random(seed);
    std::string out;
    sums = FareSums{0, 0, 0, 0};
    generateRecords(random, mix, 0, count, "20261209", out, sums);
    return out;
}

}  // namespace

TEST(Generate, TheSameSeedGivesTheSameRecords) {
    FareSums a{}, b{}, c{};
    EXPECT_EQ(generate(7, FareMix::Any, 5000, a), generate(7, FareMix::Any, 5000, b));
    EXPECT_NE(generate(7, FareMix::Any, 5000, a), generate(8, FareMix::Any, 5000, c));
}

TEST(Generate, RecordsAreWholeLinesThatFitEveryField) {
    FareSums sums{};
    std::istringstream lines(generate(3, FareMix::Any, 20000, sums));
    std::string line;
    long long n = 0;
    const std::size_t room[5] = {12, 5, 4, 20, 7};
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string field;
        int i = 0;
        while (fields >> field) {
            ASSERT_LT(i, 5) << line;
            EXPECT_LE(field.size(), room[i]) << line;
            ++i;
        }
        ASSERT_EQ(i, 5) << line;
        ++n;
    }
    EXPECT_EQ(n, 20000);
}

TEST(Generate, ThePeersSumsMatchTheSettlementsReaderAndTable) {
    for (FareMix mix : {FareMix::Table, FareMix::Any}) {
        FareSums sums{};
        std::string bytes = generate(11, mix, 200000, sums);
        std::vector<FareRecord> records;
        RecordScan scan;
        startRecords(scan, records);
        scanRecords(scan, bytes.data(), bytes.size());
        std::int64_t count = finishRecords(scan);
        std::int64_t total = 0, bus = 0, metro = 0;
        for (const FareRecord& r : records) total += r.amount;
        Account(records, bus, metro, count);
        EXPECT_EQ(count, sums.records);
        EXPECT_EQ(total, sums.total);
        EXPECT_EQ(bus, sums.bus);
        EXPECT_EQ(metro, sums.metro);
        if (mix == FareMix::Any) {
            EXPECT_NE(sums.total, sums.bus + sums.metro) << "no undivided fares drawn";
        } else {
            EXPECT_EQ(sums.total, sums.bus + sums.metro);
        }
    }
}
