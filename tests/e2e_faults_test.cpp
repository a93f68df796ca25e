// The real program when the files of a settlement cannot be written.
#include "program.h"
#include "text/text.h"

#include <filesystem>
#include <string>

namespace {

using Faults = ProgramTest;

void prepare(const ExchangeTest& test) {
    writeFile(test.path("Time.txt"), "20261209");
    writeFile(test.path("Accumulated.txt"), "c1 BUS t 1650 k\nc2 METRO t 300 k\n");
    writeFile(test.path("AccountTrigger.txt"), "1");
}

}  // namespace

TEST_F(Faults, ALedgerThatCannotOpenKeepsTheRequestUntilItCan) {
    prepare(*this);
    std::filesystem::create_directory(path("BusAccount.txt"));
    Program program = startProgram(*this);
    // The request stays in force, so the same records are settled again.
    std::string attempt = reportBytes(1950, 809, 1141) + std::string(openFailed) + "\n";
    ASSERT_TRUE(waitUntil([&] { return countOf(outputOf(program), attempt) >= 2; }));
    EXPECT_TRUE(sameBytes(readFile(path("Account.txt")), ""));
    EXPECT_TRUE(sameBytes(readFile(path("AccountTrigger.txt")), "1"));
    EXPECT_FALSE(fileExists(path("AccountSuccess.txt")));
    EXPECT_TRUE(sameBytes(readFile(path("Accumulated.txt")), "c1 BUS t 1650 k\nc2 METRO t 300 k\n"));

    std::filesystem::remove(path("BusAccount.txt"));
    ASSERT_TRUE(waitUntil([&] { return readFile(path("AccountSuccess.txt")) == "1"; }));
    stopProgram(program);

    std::string out = outputOf(program);
    std::size_t attempts = countOf(out, attempt);
    EXPECT_GE(attempts, 2u);
    // Every attempt but the last failed, and the last one printed no failure.
    EXPECT_EQ(countOf(out, settledText), attempts + 1);
    EXPECT_TRUE(sameBytes(readFile(path("Account.txt")), "20261209\t809\t1141\t1950\n"));
    EXPECT_TRUE(sameBytes(readFile(path("BusAccount.txt")), "20261209\t809\n"));
    EXPECT_TRUE(sameBytes(readFile(path("MetroAccount.txt")), "20261209\t1141\n"));
    EXPECT_TRUE(sameBytes(readFile(path("Accumulated.txt")), ""));
    EXPECT_TRUE(sameBytes(readFile(path("AccountTrigger.txt")), "0"));
}

TEST_F(Faults, ALedgerOnAFullDiskIsRolledBackAndRetried) {
    prepare(*this);
    writeFile(path("Account.txt"), "20261208\t1\t2\t3\n");
    std::filesystem::create_symlink("/dev/full", path("MetroAccount.txt"));
    Program program = startProgram(*this);
    ASSERT_TRUE(waitUntil([&] { return countOf(outputOf(program), std::string(openFailed) + "\n") >= 1; }));
    EXPECT_TRUE(sameBytes(readFile(path("Account.txt")), "20261208\t1\t2\t3\n"));
    EXPECT_TRUE(sameBytes(readFile(path("BusAccount.txt")), ""));
    EXPECT_TRUE(sameBytes(readFile(path("AccountTrigger.txt")), "1"));

    std::filesystem::remove(path("MetroAccount.txt"));
    ASSERT_TRUE(waitUntil([&] { return readFile(path("AccountSuccess.txt")) == "1"; }));
    stopProgram(program);
    EXPECT_TRUE(sameBytes(readFile(path("Account.txt")), "20261208\t1\t2\t3\n20261209\t809\t1141\t1950\n"));
    EXPECT_TRUE(sameBytes(readFile(path("BusAccount.txt")), "20261209\t809\n"));
    EXPECT_TRUE(sameBytes(readFile(path("MetroAccount.txt")), "20261209\t1141\n"));
}
