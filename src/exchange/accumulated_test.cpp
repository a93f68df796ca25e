// One read of the accumulated fare file, block by block, gives the count,
// the total, the shares and the size of what was read; an idle cycle reads
// nothing.
#include "exchange/exchange.h"
#include "support.h"
#include "text/text.h"

#include <filesystem>
#include <string>
#include <vector>

namespace {

using AccumulatedFile = ExchangeTest;

// The descriptors this process has open.
std::size_t openDescriptors() {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                                  std::filesystem::directory_iterator{}));
}

}  // namespace

TEST_F(AccumulatedFile, MissingFilePrintsTheCountAndRecordLinesIdleOrNot) {
    for (bool settling : {false, true}) {
        CycleRead c = readAsACycle(settling);
        EXPECT_TRUE(sameBytes(c.out, std::string(openFailedCount) + "\n" + std::string(openFailedRecords) + "\n"));
        EXPECT_EQ(c.count, 0);
        EXPECT_EQ(c.total, 0);
    }
}

TEST_F(AccumulatedFile, AnIdleCycleOpensButNeverReads) {
    writeFile(path("Accumulated.txt"), "a BUS c 1650 e\n");
    std::size_t before = openDescriptors();
    CycleRead c = readAsACycle(false);
    EXPECT_TRUE(sameBytes(c.out, ""));
    EXPECT_EQ(c.settled.bytes, 0);
    EXPECT_EQ(openDescriptors(), before) << "the file is left open";
    EXPECT_EQ(c.total, 0);
}

TEST_F(AccumulatedFile, EmptyFileIsQuietAndEmpty) {
    writeFile(path("Accumulated.txt"), "");
    CycleRead c = readAsACycle();
    EXPECT_TRUE(sameBytes(c.out, ""));
    EXPECT_EQ(c.count, 0);
    EXPECT_EQ(c.settled.bytes, 0);
}

TEST_F(AccumulatedFile, TotalIsEveryCountedAmountWhateverItsCarrier) {
    std::string content =
        "c1 BUS t 1650 k\n"
        "c2 TAXI t 999 k\n"
        "c3 METRO t -300 k\n"
        "c4 BUS t 4294967296 k\n"
        "c5 BUS";  // two tokens left over: not a record
    writeFile(path("Accumulated.txt"), content);
    CycleRead c = readAsACycle();
    EXPECT_TRUE(sameBytes(c.out, ""));
    ASSERT_EQ(c.count, 4);
    EXPECT_EQ(c.total, 1650 + 999 - 300 + 4294967296LL);
    EXPECT_EQ(c.bus, 1268);
    EXPECT_EQ(c.metro, 382);
    EXPECT_EQ(c.settled.bytes, static_cast<std::int64_t>(content.size()));
}

TEST_F(AccumulatedFile, ATotalPastTheRangeSaturatesInsteadOfWrapping) {
    writeFile(path("Accumulated.txt"), "a BUS c 9223372036854775807 e a BUS c 5 e");
    CycleRead c = readAsACycle();
    EXPECT_EQ(c.total, INT64_MAX);
}

TEST_F(AccumulatedFile, ALargeFileReadsInBlocksWithoutLosingARecord) {
    std::string content;
    for (int i = 0; i < 200000; ++i) content += "20261209083001 BUS 0001 1250 CARD001\n";
    // Out of step at the end: only the first of these two records counts.
    content += "x METRO t word y METRO t 1650";
    writeFile(path("Accumulated.txt"), content);
    CycleRead c = readAsACycle();
    EXPECT_EQ(c.count, 200001);
    EXPECT_EQ(c.total, 200000LL * 1250);
    EXPECT_EQ(c.bus, 200000LL * 1050);
    EXPECT_EQ(c.metro, 200000LL * 200);
    EXPECT_EQ(c.settled.bytes, static_cast<std::int64_t>(content.size()));
}

TEST_F(AccumulatedFile, CarriersEndingInNulBytesAreNotDivided) {
    writeFile(path("Accumulated.txt"), std::string("c1 BUS\0 s 500 t\nc2 METRO\0 s 1650 t\nc3 BUS\0\0\0 s 600 t\n", 53));
    CycleRead c = readAsACycle();
    EXPECT_EQ(c.count, 3);
    EXPECT_EQ(c.total, 2750);
    EXPECT_EQ(c.bus, 0);
    EXPECT_EQ(c.metro, 0);
}
