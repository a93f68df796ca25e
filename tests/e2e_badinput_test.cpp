// Whatever the peers write, the program neither crashes nor grows without
// bound: megabyte tokens, a gigabyte token, binary garbage, absurd numbers.
#include "program.h"
#include "text/text.h"

#include <fcntl.h>
#include <random>
#include <string>
#include <unistd.h>

namespace {

using BadInput = ProgramTest;

// Settles whatever Accumulated.txt holds and returns the program's output.
std::string settleOnce(ProgramTest& test, Program& program) {
    writeFile(test.path("AccountTrigger.txt"), "1");
    program = startProgram(test);
    EXPECT_TRUE(waitUntil([&] { return readFile(test.path("AccountSuccess.txt")) == "1"; }, 60));
    stopProgram(program);
    return outputOf(program);
}

}  // namespace

TEST_F(BadInput, AGigabyteHoleIsNoBytesAndTheRecordBehindItSettles) {
    writeFile(path("Time.txt"), "20261209");
    // A sparse gigabyte: a hole holds no bytes, not a gigabyte of NULs, so
    // the record behind it is read whole, in little memory.
    int fd = ::open(path("Accumulated.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    ASSERT_EQ(::pwrite(fd, "c BUS t 1650 k\n", 15, 1LL << 30), 15);
    ::close(fd);
    Program program{};
    std::string out = settleOnce(*this, program);
    EXPECT_TRUE(sameBytes(out.substr(0, reportBytes(1650, 1268, 382).size()), reportBytes(1650, 1268, 382)));
    EXPECT_TRUE(sameBytes(readFile(path("Account.txt")), "20261209\t1268\t382\t1650\n"));
    EXPECT_TRUE(sameBytes(readFile(path("Accumulated.txt")), ""));
    EXPECT_LT(program.peakKiB, 64 * 1024) << "KiB";
}

TEST_F(BadInput, MegabyteTokensAreCutAndTheRecordsAroundThemCount) {
    writeFile(path("Time.txt"), std::string(1 << 20, '7'));
    std::string big(4 << 20, 'Z');
    writeFile(path("Accumulated.txt"), big + " BUS " + big + " 1650 " + big + "\n" + "c METRO" + big + " t 1650 k\n" +
                                           "c BUS t " + std::string(3 << 20, '0') + "300 k\n");
    Program program{};
    std::string out = settleOnce(*this, program);
    EXPECT_TRUE(sameBytes(out.substr(0, reportBytes(3600, 1568, 382).size()), reportBytes(3600, 1568, 382)));
    EXPECT_TRUE(sameBytes(readFile(path("Account.txt")), "77777777\t1568\t382\t3600\n"));
    EXPECT_LT(program.peakKiB, 64 * 1024) << "KiB";
}

TEST_F(BadInput, BinaryGarbageAndNulDatesEndCleanly) {
    std::mt19937 random(7);
    std::string garbage(8 << 20, '\0');
    for (char& c : garbage) c = static_cast<char>(random());
    writeFile(path("Accumulated.txt"), garbage);
    writeFile(path("Time.txt"), std::string(64, '\0'));
    Program program{};
    std::string out = settleOnce(*this, program);
    EXPECT_EQ(out.rfind(std::string(settledText), 0), 0u);
    std::string ledger = readFile(path("Account.txt"));
    ASSERT_FALSE(ledger.empty());
    EXPECT_EQ(ledger[0], '\t');  // the NUL date is empty
    EXPECT_EQ(ledger.back(), '\n');
    EXPECT_EQ(std::count(ledger.begin(), ledger.end(), '\n'), 1);
    EXPECT_TRUE(sameBytes(readFile(path("Accumulated.txt")), ""));
}

TEST_F(BadInput, AHugeTriggerNumberIsNoRequest) {
    writeFile(path("Time.txt"), "20261209");
    writeFile(path("Accumulated.txt"), "c BUS t 1650 k\n");
    writeFile(path("AccountTrigger.txt"), "1" + std::string(30, '0'));
    Program program = startProgram(*this);
    ASSERT_TRUE(waitUntil([&] { return countOf(outputOf(program), idleText) >= 5; }));
    writeFile(path("AccountTrigger.txt"), "4294967297");  // 1 once wrapped to 32 bits
    std::size_t seen = countOf(outputOf(program), idleText);
    ASSERT_TRUE(waitUntil([&] { return countOf(outputOf(program), idleText) >= seen + 5; }));
    stopProgram(program);
    EXPECT_TRUE(repeats(outputOf(program), idleText));
    EXPECT_FALSE(fileExists(path("Account.txt")));
}
