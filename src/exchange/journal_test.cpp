// What a restart, or the next cycle, does with the journal of a settlement
// that was cut short, from every point the removal can stop at.
#include "exchange/accumulated.h"
#include "exchange/exchange.h"
#include "exchange/io.h"
#include "exchange/journal.h"
#include "support.h"
#include "text/text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using JournalRecovery = ExchangeTest;

const std::string records = "c1 BUS t 1650 k\nc2 METRO t 300 k\n";
const std::string late = "late BUS t 1250 k\n";

// The settled bytes of Accumulated.txt as a settlement reads them now.
SettledBytes readSettled() { return readAsACycle().settled; }

void prepare(const ExchangeTest& test, const std::string& settled = records) {
    writeFile(test.path("Account.txt"), "old\t1\n" "20261209\t809\t1141\t1950\n");
    writeFile(test.path("BusAccount.txt"), "old\t1\n" "20261209\t809\n");
    writeFile(test.path("MetroAccount.txt"), "old\t1\n" "20261209\t1141\n");
    writeFile(test.path("Accumulated.txt"), settled);
    writeFile(test.path("AccountTrigger.txt"), "1");
}

Journal journalOf(JournalPhase phase, const SettledBytes& settled) { return Journal{phase, 6, 6, 6, settled}; }

std::string recover(bool expectDone = true) {
    StdoutCapture capture = startCapture();
    EXPECT_EQ(settlePending(), expectDone);
    return endCapture(capture);
}

// What is left of Accumulated.txt once its leading blanks are skipped.
std::string recordsLeft(const ExchangeTest& test) {
    std::string left = readFile(test.path("Accumulated.txt"));
    std::size_t at = left.find_first_not_of(" \t");
    return at == std::string::npos ? "" : left.substr(at);
}

void expectHandedBack(const ExchangeTest& test) {
    EXPECT_TRUE(sameBytes(readFile(test.path("Account.txt")), "old\t1\n20261209\t809\t1141\t1950\n"));
    EXPECT_TRUE(sameBytes(readFile(test.path("AccountTrigger.txt")), "0"));
    EXPECT_TRUE(sameBytes(readFile(test.path("AccountSuccess.txt")), "1"));
    EXPECT_FALSE(fileExists(test.dir.work + "/" + journalPath));
}

int openAccumulated(const ExchangeTest& test) { return ::open(test.path("Accumulated.txt").c_str(), O_RDWR); }

}  // namespace

TEST_F(JournalRecovery, AJournalReadsBackAsItWasWritten) {
    prepare(*this, std::string("\x01\xff\t \0z", 6) + records);
    Journal written = journalOf(JournalPhase::Marked, readSettled());
    written.accountSize = -1;
    ASSERT_TRUE(writeJournal(written));
    Journal read{};
    ASSERT_TRUE(readJournal(read));
    EXPECT_EQ(read.phase, JournalPhase::Marked);
    EXPECT_EQ(read.accountSize, -1);
    EXPECT_EQ(read.settled.bytes, written.settled.bytes);
    EXPECT_EQ(read.settled.inode, written.settled.inode);
    EXPECT_EQ(read.settled.tailHash, written.settled.tailHash);
    EXPECT_TRUE(sameBytes(std::string_view(read.settled.head, 64), std::string_view(written.settled.head, 64)));
    EXPECT_FALSE(fileExists(dir.work + "/" + journalNewPath));
}

TEST_F(JournalRecovery, NoJournalChangesNothing) {
    prepare(*this);
    EXPECT_TRUE(sameBytes(recover(), ""));
    EXPECT_TRUE(sameBytes(readFile(path("Account.txt")), "old\t1\n20261209\t809\t1141\t1950\n"));
    EXPECT_TRUE(sameBytes(readFile(path("AccountTrigger.txt")), "1"));
}

TEST_F(JournalRecovery, ACutWhileAppendingCutsTheLedgersBackAndKeepsTheRequest) {
    prepare(*this);
    ASSERT_TRUE(writeJournal(journalOf(JournalPhase::Appending, readSettled())));
    EXPECT_TRUE(sameBytes(recover(), ""));
    EXPECT_TRUE(sameBytes(readFile(path("Account.txt")), "old\t1\n"));
    EXPECT_TRUE(sameBytes(readFile(path("BusAccount.txt")), "old\t1\n"));
    EXPECT_TRUE(sameBytes(readFile(path("MetroAccount.txt")), "old\t1\n"));
    EXPECT_TRUE(sameBytes(readFile(path("Accumulated.txt")), records));
    EXPECT_TRUE(sameBytes(readFile(path("AccountTrigger.txt")), "1"));
    EXPECT_FALSE(fileExists(path("AccountSuccess.txt")));
    EXPECT_FALSE(fileExists(dir.work + "/" + journalPath));
}

TEST_F(JournalRecovery, ARecordedSettlementIsFinishedKeepingWhatCameAfter) {
    // Small and large settled parts, with and without appends after them:
    // cut to zero, blanked, or collapsed by blocks.
    for (std::size_t copies : {1, 20000}) {
        for (bool appended : {false, true}) {
            SCOPED_TRACE(std::to_string(copies) + (appended ? " appended" : ""));
            std::string settled;
            for (std::size_t i = 0; i < copies; ++i) settled += records;
            prepare(*this, settled);
            ASSERT_TRUE(writeJournal(journalOf(JournalPhase::Recorded, readSettled())));
            if (appended) appendFile(path("Accumulated.txt"), late);
            EXPECT_TRUE(sameBytes(recover(), ""));
            expectHandedBack(*this);
            EXPECT_TRUE(sameBytes(recordsLeft(*this), appended ? late : ""));
            std::string left = readFile(path("Accumulated.txt"));
            EXPECT_LT(left.size() - recordsLeft(*this).size(), appended && copies > 1 ? 4096u : settled.size() + 1);
        }
    }
}

TEST_F(JournalRecovery, ARemovalStoppedAtAnyStepIsFinishedOnce) {
    // Every state the removal passes through, as a kill or a power cut can
    // leave it: part of the mark, the whole mark, the blanks behind the
    // last whole block, and the collapse, each with the journal before and
    // after it learnt of the mark. Identical records make the file look the
    // same before and after a collapse: only the mark tells them apart.
    std::string settled;
    while (settled.size() < 300000) settled += "c1 BUS t 1650 k\n";
    // step 0: nothing yet; 1: part of the mark; 2: the whole mark; 3: the
    // blanks behind the last whole block too; 4: removed.
    for (int step = 0; step <= 4; ++step) {
        for (bool journalMarked : {false, true}) {
            // The journal learns of the mark once it is whole on disk, and
            // nothing is blanked or removed before it has.
            if (journalMarked != (step >= 3) && step != 2) continue;
            SCOPED_TRACE("step " + std::to_string(step) + (journalMarked ? ", journal marked" : ""));
            prepare(*this, settled);
            Journal journal = journalOf(JournalPhase::Recorded, readSettled());
            appendFile(path("Accumulated.txt"), settled.substr(0, 160));
            int fd = openAccumulated(*this);
            std::int64_t written = 0;
            if (step == 1) {
                ASSERT_EQ(::pwrite(fd, "\t \t", 3, 0), 3);  // a mark cut short
            }
            if (step >= 2) {
                ASSERT_TRUE(markSettled(fd, journal.settled));
            }
            if (step == 3) {
                std::int64_t whole = journal.settled.bytes / 4096 * 4096;
                std::string blanks(static_cast<std::size_t>(journal.settled.bytes - whole), ' ');
                ASSERT_EQ(::pwrite(fd, blanks.data(), blanks.size(), whole), static_cast<ssize_t>(blanks.size()));
            }
            if (step == 4) {
                ASSERT_TRUE(cutSettled(fd, journal.settled, written));
            }
            ::close(fd);
            if (journalMarked) journal.phase = JournalPhase::Marked;
            ASSERT_TRUE(writeJournal(journal));
            EXPECT_TRUE(sameBytes(recover(), ""));
            expectHandedBack(*this);
            EXPECT_TRUE(sameBytes(recordsLeft(*this), settled.substr(0, 160)));
        }
    }
}

TEST_F(JournalRecovery, AFileThatChangedIsLeftAloneAndSaysSo) {
    std::string fresh = "n1 BUS t 1650 k\nn2 BUS t 1650 k\nn3 BUS t 1650 k\n";
    prepare(*this);
    ASSERT_TRUE(writeJournal(journalOf(JournalPhase::Recorded, readSettled())));
    writeFile(path("Accumulated.txt"), fresh);  // rewritten in place by a peer
    EXPECT_TRUE(sameBytes(recover(), std::string(settledChangedText) + "\n"));
    EXPECT_TRUE(sameBytes(readFile(path("Accumulated.txt")), fresh));
    expectHandedBack(*this);

    prepare(*this);
    ASSERT_TRUE(writeJournal(journalOf(JournalPhase::Recorded, readSettled())));
    // Replaced by a new file; the old one is kept so its inode is not reused.
    ASSERT_EQ(::rename(path("Accumulated.txt").c_str(), path("old.txt").c_str()), 0);
    writeFile(path("Accumulated.txt"), records);
    EXPECT_TRUE(sameBytes(recover(), std::string(settledChangedText) + "\n"));
    EXPECT_TRUE(sameBytes(readFile(path("Accumulated.txt")), records));
}

TEST_F(JournalRecovery, RecordsThatAlreadyLeftAreNotRemovedTwice) {
    // The removal ran, then peers appended the very same bytes again: once
    // the journal knows of the mark, a front without it means done.
    prepare(*this);
    Journal journal = journalOf(JournalPhase::Marked, readSettled());
    ASSERT_TRUE(writeJournal(journal));
    writeFile(path("Accumulated.txt"), records);
    EXPECT_TRUE(sameBytes(recover(), ""));
    EXPECT_TRUE(sameBytes(readFile(path("Accumulated.txt")), records));
    expectHandedBack(*this);
}

TEST_F(JournalRecovery, AJournalThatCannotBeFinishedStaysAndBlocks) {
    prepare(*this);
    ASSERT_TRUE(writeJournal(journalOf(JournalPhase::Recorded, readSettled())));
    ::unlink(path("Accumulated.txt").c_str());
    ASSERT_EQ(::mkdir(path("Accumulated.txt").c_str(), 0755), 0);
    EXPECT_TRUE(sameBytes(recover(false), std::string(openFailed) + "\n"));
    EXPECT_TRUE(fileExists(dir.work + "/" + journalPath));
    EXPECT_TRUE(sameBytes(readFile(path("AccountTrigger.txt")), "1"));
}

TEST_F(JournalRecovery, ASettlementLeavesNoJournalBehind) {
    writeFile(path("Accumulated.txt"), records);
    CycleRead read = readAsACycle();
    const char date[9] = "20261209";
    StdoutCapture capture = startCapture();
    recordSettlement(date, read.bus, read.metro, read.total, read.settled);
    EXPECT_TRUE(sameBytes(endCapture(capture), ""));
    EXPECT_FALSE(fileExists(dir.work + "/" + journalPath));
    EXPECT_FALSE(fileExists(dir.work + "/" + journalNewPath));
    EXPECT_TRUE(sameBytes(readFile(path("Account.txt")), "20261209\t809\t1141\t1950\n"));
}
