// One read of the accumulated fare file gives the count, the total, the
// shares and the size of what was read; an idle cycle reads nothing.
#include "exchange/exchange.h"
#include "support.h"
#include "text/text.h"

#include <string>
#include <vector>

namespace {

using AccumulatedFile = ExchangeTest;

struct Cycle {
    std::int64_t count = 0;
    std::int64_t total = 0;
    std::int64_t bus = 0;
    std::int64_t metro = 0;
    std::vector<FareRecord> records;
    AccumulatedSnapshot snapshot{};
    std::string out;
};

Cycle readCycle(bool settling = true) {
    Cycle c;
    StdoutCapture capture = startCapture();
    dataCount(c.count, c.snapshot);
    AccumulatedRead(c.records, c.total, c.bus, c.metro, c.count, c.snapshot, settling);
    c.out = endCapture(capture);
    return c;
}

}  // namespace

TEST_F(AccumulatedFile, MissingFilePrintsTheCountAndRecordLinesIdleOrNot) {
    for (bool settling : {false, true}) {
        Cycle c = readCycle(settling);
        EXPECT_TRUE(sameBytes(c.out, std::string(openFailedCount) + "\n" + std::string(openFailedRecords) + "\n"));
        EXPECT_EQ(c.count, 0);
        EXPECT_EQ(c.total, 0);
        EXPECT_FALSE(c.snapshot.opened);
    }
}

TEST_F(AccumulatedFile, AnIdleCycleOpensButNeverReads) {
    writeFile(path("Accumulated.txt"), "a BUS c 1650 e\n");
    Cycle c = readCycle(false);
    EXPECT_TRUE(sameBytes(c.out, ""));
    EXPECT_EQ(c.snapshot.settled.bytes, 0);
    EXPECT_EQ(c.snapshot.fd, -1);
    EXPECT_EQ(c.total, 0);
}

TEST_F(AccumulatedFile, EmptyFileIsQuietAndEmpty) {
    writeFile(path("Accumulated.txt"), "");
    Cycle c = readCycle();
    EXPECT_TRUE(sameBytes(c.out, ""));
    EXPECT_EQ(c.count, 0);
    EXPECT_TRUE(c.snapshot.opened);
    EXPECT_EQ(c.snapshot.settled.bytes, 0);
}

TEST_F(AccumulatedFile, TotalIsEveryCountedAmountWhateverItsCarrier) {
    std::string content =
        "c1 BUS t 1650 k\n"
        "c2 TAXI t 999 k\n"
        "c3 METRO t -300 k\n"
        "c4 BUS t 4294967296 k\n"
        "c5 BUS";  // two tokens left over: not a record
    writeFile(path("Accumulated.txt"), content);
    Cycle c = readCycle();
    EXPECT_TRUE(sameBytes(c.out, ""));
    ASSERT_EQ(c.count, 4);
    EXPECT_EQ(c.total, 1650 + 999 - 300 + 4294967296LL);
    EXPECT_EQ(c.bus, 1268);
    EXPECT_EQ(c.metro, 382);
    EXPECT_EQ(c.snapshot.settled.bytes, static_cast<std::int64_t>(content.size()));
}

TEST_F(AccumulatedFile, ATotalPastTheRangeSaturatesInsteadOfWrapping) {
    writeFile(path("Accumulated.txt"), "a BUS c 9223372036854775807 e a BUS c 5 e");
    Cycle c = readCycle();
    EXPECT_EQ(c.total, INT64_MAX);
}

TEST_F(AccumulatedFile, ALargeFileReadsInBlocksWithoutLosingARecordOrGrowingTheTable) {
    std::string content;
    for (int i = 0; i < 200000; ++i) content += "20261209083001 BUS 0001 1250 CARD001\n";
    // Out of step at the end: only the first of these two records counts.
    content += "x METRO t word y METRO t 1650";
    writeFile(path("Accumulated.txt"), content);
    Cycle c = readCycle();
    EXPECT_EQ(c.count, 200001);
    EXPECT_EQ(c.total, 200000LL * 1250);
    EXPECT_EQ(c.bus, 200000LL * 1050);
    EXPECT_EQ(c.metro, 200000LL * 200);
    EXPECT_EQ(c.snapshot.settled.bytes, static_cast<std::int64_t>(content.size()));
    EXPECT_LT(c.records.capacity(), 100000u);
}
