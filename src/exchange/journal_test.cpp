// What a restart does with the journal of a settlement that was killed.
#include "exchange/exchange.h"
#include "exchange/io.h"
#include "exchange/journal.h"
#include "support.h"
#include "text/text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <vector>

namespace {

using JournalRecovery = ExchangeTest;

const std::string records = "c1 BUS t 1650 k\nc2 METRO t 300 k\n";

// The journal a settlement of `records` writes, in the phase given.
Journal journalFor(const ExchangeTest& test, bool recorded) {
    struct stat st {};
    ::stat(test.path("Accumulated.txt").c_str(), &st);
    Journal j{recorded, 6, 6, 6, static_cast<std::int64_t>(records.size()),
              static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino), 0};
    int fd = openFile("../../Accumulated.txt", O_RDONLY);
    settledSignature(fd, j.bytes, j.signature);
    closeFile(fd);
    return j;
}

void prepare(const ExchangeTest& test) {
    writeFile(test.path("Account.txt"), "old\t1\n" "20261209\t809\t1141\t1950\n");
    writeFile(test.path("BusAccount.txt"), "old\t1\n" "20261209\t809\n");
    writeFile(test.path("MetroAccount.txt"), "old\t1\n" "20261209\t1141\n");
    writeFile(test.path("Accumulated.txt"), records);
    writeFile(test.path("AccountTrigger.txt"), "1");
}

std::string recover() {
    StdoutCapture capture = startCapture();
    recoverSettlement();
    return endCapture(capture);
}

}  // namespace

TEST_F(JournalRecovery, NoJournalChangesNothing) {
    prepare(*this);
    EXPECT_TRUE(sameBytes(recover(), ""));
    EXPECT_TRUE(sameBytes(readFile(path("Account.txt")), "old\t1\n20261209\t809\t1141\t1950\n"));
    EXPECT_TRUE(sameBytes(readFile(path("AccountTrigger.txt")), "1"));
}

TEST_F(JournalRecovery, AKillWhileAppendingCutsTheLedgersBackAndKeepsTheRequest) {
    prepare(*this);
    ASSERT_TRUE(writeJournal(journalFor(*this, false)));
    EXPECT_TRUE(sameBytes(recover(), ""));
    EXPECT_TRUE(sameBytes(readFile(path("Account.txt")), "old\t1\n"));
    EXPECT_TRUE(sameBytes(readFile(path("BusAccount.txt")), "old\t1\n"));
    EXPECT_TRUE(sameBytes(readFile(path("MetroAccount.txt")), "old\t1\n"));
    EXPECT_TRUE(sameBytes(readFile(path("Accumulated.txt")), records));
    EXPECT_TRUE(sameBytes(readFile(path("AccountTrigger.txt")), "1"));
    EXPECT_FALSE(fileExists(path("AccountSuccess.txt")));
    EXPECT_FALSE(fileExists(dir.work + "/" + journalPath));
}

TEST_F(JournalRecovery, AKillAfterTheLedgersFinishesOnlyTheHandBack) {
    prepare(*this);
    Journal j = journalFor(*this, true);
    ASSERT_TRUE(writeJournal(j));
    appendFile(path("Accumulated.txt"), "late BUS t 1250 k\n");
    EXPECT_TRUE(sameBytes(recover(), ""));
    EXPECT_TRUE(sameBytes(readFile(path("Account.txt")), "old\t1\n20261209\t809\t1141\t1950\n"));
    std::string left = readFile(path("Accumulated.txt"));
    EXPECT_TRUE(sameBytes(left.substr(left.find_first_not_of(' ')), "late BUS t 1250 k\n"));
    EXPECT_TRUE(sameBytes(readFile(path("AccountTrigger.txt")), "0"));
    EXPECT_TRUE(sameBytes(readFile(path("AccountSuccess.txt")), "1"));
    EXPECT_FALSE(fileExists(dir.work + "/" + journalPath));
}

TEST_F(JournalRecovery, RecordsThatAlreadyLeftAreNotRemovedTwice) {
    prepare(*this);
    Journal j = journalFor(*this, true);
    ASSERT_TRUE(writeJournal(j));
    // The kill came after the cut; peers then appended more than was settled.
    std::string fresh = "n1 BUS t 1650 k\nn2 BUS t 1650 k\nn3 BUS t 1650 k\n";
    int fd = ::open(path("Accumulated.txt").c_str(), O_WRONLY | O_TRUNC);
    ::close(fd);
    appendFile(path("Accumulated.txt"), fresh);
    EXPECT_TRUE(sameBytes(recover(), ""));
    EXPECT_TRUE(sameBytes(readFile(path("Accumulated.txt")), fresh));
    EXPECT_TRUE(sameBytes(readFile(path("AccountTrigger.txt")), "0"));
}

TEST_F(JournalRecovery, ASettlementLeavesNoJournalBehind) {
    writeFile(path("Accumulated.txt"), records);
    std::int64_t count = 0, total = 0, bus = 0, metro = 0;
    std::vector<FareRecord> table;
    AccumulatedSnapshot snapshot{};
    dataCount(count, snapshot);
    AccumulatedRead(table, total, bus, metro, count, snapshot, true);
    const char date[9] = "20261209";
    StdoutCapture capture = startCapture();
    recordSettlement(date, bus, metro, total, snapshot);
    EXPECT_TRUE(sameBytes(endCapture(capture), ""));
    EXPECT_FALSE(fileExists(dir.work + "/" + journalPath));
    EXPECT_FALSE(fileExists(dir.work + "/" + journalNewPath));
    EXPECT_TRUE(sameBytes(readFile(path("Account.txt")), "20261209\t809\t1141\t1950\n"));
}
