// Whole settlements through the real program.
#include "program.h"
#include "text/text.h"

#include <string>

namespace {

using Settlement = ProgramTest;

}  // namespace

TEST_F(Settlement, AFirstSettlementWithOnlyATriggerFile) {
    writeFile(path("AccountTrigger.txt"), "\n 01\n");
    Program program = startProgram(*this);
    ASSERT_TRUE(waitUntil([&] { return countOf(outputOf(program), idleText) >= 2; }, 20));
    stopProgram(program);

    std::string out = outputOf(program);
    std::string first = line(openFailedCount) + line(openFailedRequest) + line(openFailedRecords) +
                        reportBytes(0, 0, 0);
    ASSERT_TRUE(sameBytes(out.substr(0, first.size()), first));
    // Afterwards only the time file is missing.
    EXPECT_TRUE(repeats(out.substr(first.size()), line(openFailedRequest) + std::string(idleText)));
    EXPECT_TRUE(sameBytes(readFile(path("Account.txt")), "\t0\t0\t0\n"));
    EXPECT_TRUE(sameBytes(readFile(path("BusAccount.txt")), "\t0\n"));
    EXPECT_TRUE(sameBytes(readFile(path("MetroAccount.txt")), "\t0\n"));
    EXPECT_TRUE(sameBytes(readFile(path("AccountTrigger.txt")), "0"));
    EXPECT_TRUE(sameBytes(readFile(path("AccountSuccess.txt")), "1"));
    EXPECT_TRUE(sameBytes(readFile(path("Accumulated.txt")), ""));
}

TEST_F(Settlement, TwoRequestsWithRecordsAndAnAppendDuringTheReport) {
    writeFile(path("Time.txt"), "202612091 ignored\n");
    writeFile(path("AccountTrigger.txt"), "0");
    writeFile(path("AccountSuccess.txt"), "0");
    writeFile(path("Accumulated.txt"),
              "20261209083001 BUS 0001 1650 CARD001\n"
              "20261209083002 METRO 0002 300 CARD002\n"
              "20261209083003 BUS 0003 1250 CARD003\n"
              "20261209083004 bus 0004 500 CARD004\n"
              "20261209083005 METROPOLIS 0005 1650 CARD005\n"
              "20261209083006 TAXI 0006 800 CARD006\n"
              "20261209083007 METRO 0007 -200 CARD007\n"
              "20261209083008 BUS");
    Program program = startProgram(*this);
    ASSERT_TRUE(waitUntil([&] { return countOf(outputOf(program), idleText) >= 2; }));
    writeFile(path("AccountTrigger.txt"), "1");
    ASSERT_TRUE(waitUntil([&] { return countOf(outputOf(program), settledText) == 1; }));
    // Fares tapped while the report is on the screen wait for the next request.
    std::string late = "20261209090000 METRO 0009 600 CARD009\n";
    appendFile(path("Accumulated.txt"), late);
    ASSERT_TRUE(waitUntil([&] { return succeeded(*this); }));
    std::string left = readFile(path("Accumulated.txt"));
    ASSERT_NE(left.find_first_not_of(' '), std::string::npos);
    EXPECT_TRUE(sameBytes(left.substr(left.find_first_not_of(' ')), late));
    EXPECT_TRUE(sameBytes(readFile(path("AccountTrigger.txt")), "0"));
    // Let it go idle again, so that the two reports have idle screens between them.
    std::size_t idleSoFar = countOf(outputOf(program), idleText);
    ASSERT_TRUE(waitUntil([&] { return countOf(outputOf(program), idleText) > idleSoFar; }));

    writeFile(path("AccountSuccess.txt"), "0");
    writeFile(path("Time.txt"), "20261210");
    writeFile(path("AccountTrigger.txt"), "1");
    ASSERT_TRUE(waitUntil([&] { return succeeded(*this); }));
    stopProgram(program);

    // The eighth record's two tokens are no record and are dropped with the rest.
    long long total = 1650 + 300 + 1250 + 500 + 1650 + 800 - 200;
    long long bus = 1268 - 459 + 1050;
    long long metro = 382 + 759 + 200;
    std::string out = outputOf(program);
    std::size_t first = out.find(reportBytes(total, bus, metro));
    std::size_t second = out.find(reportBytes(600, -408, 1008));
    ASSERT_NE(first, std::string::npos) << hex(out.substr(0, 200));
    ASSERT_NE(second, std::string::npos);
    EXPECT_TRUE(repeats(out.substr(0, first), idleText));
    std::string afterFirst = out.substr(first + reportBytes(total, bus, metro).size(),
                                        second - first - reportBytes(total, bus, metro).size());
    EXPECT_TRUE(repeats(afterFirst, idleText));

    EXPECT_TRUE(sameBytes(readFile(path("Account.txt")),
                          "20261209\t1859\t1341\t5950\n20261210\t-408\t1008\t600\n"));
    EXPECT_TRUE(sameBytes(readFile(path("BusAccount.txt")), "20261209\t1859\n20261210\t-408\n"));
    EXPECT_TRUE(sameBytes(readFile(path("MetroAccount.txt")), "20261209\t1341\n20261210\t1008\n"));
    EXPECT_TRUE(sameBytes(readFile(path("Accumulated.txt")), ""));
    EXPECT_TRUE(sameBytes(readFile(path("AccountTrigger.txt")), "0"));
}

TEST_F(Settlement, CitySumsAreShownAndRecordedWithoutWrapping) {
    std::string records;
    records.reserve(2'000'000 * 20);
    for (int i = 0; i < 2'000'000; ++i) records += "c BUS t 1250 k\n";
    writeFile(path("Accumulated.txt"), records);
    writeFile(path("Time.txt"), "20261209");
    writeFile(path("AccountTrigger.txt"), "1");
    Program program = startProgram(*this);
    ASSERT_TRUE(waitUntil([&] { return succeeded(*this); }, 60));
    stopProgram(program);
    std::string out = outputOf(program);
    std::string report = reportBytes(2500000000LL, 2100000000LL, 400000000LL);
    EXPECT_TRUE(sameBytes(out.substr(0, report.size()), report));
    EXPECT_TRUE(sameBytes(readFile(path("Account.txt")), "20261209\t2100000000\t400000000\t2500000000\n"));
    EXPECT_TRUE(sameBytes(readFile(path("Accumulated.txt")), ""));
}
