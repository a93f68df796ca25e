// What a restart, or the next cycle, does with the journal of a settlement
// that was cut short, from every point the removal can stop at, and with a
// journal that is not this exchange directory's own.
#include "exchange/accumulated.h"
#include "exchange/exchange.h"
#include "exchange/ledger.h"
#include "exchange/io.h"
#include "exchange/journal.h"
#include "exchange/removal.h"
#include "support.h"
#include "text/text.h"

#include <algorithm>
#include <cstring>
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

const char* const ledgerLines[3] = {"20261209\t809\t1141\t1950\n", "20261209\t809\n", "20261209\t1141\n"};

// The journal a settlement of `settled` writes over the ledgers that
// prepare() leaves: each was 6 bytes before its line.
Journal journalOf(JournalPhase phase, const SettledBytes& settled) {
    Journal journal{};
    journal.phase = phase;
    journal.settled = settled;
    journal.way = RemovalWay::Punch;
    journal.collapseFrom = -1;
    EXPECT_TRUE(identityOfPath(exchangeDirPath, journal.exchange));
    for (int i = 0; i < 3; ++i) {
        JournalLedger& ledger = journal.ledgers[i];
        EXPECT_TRUE(identityOfPath(ledgerPaths[i], ledger.file));
        ledger.size = 6;
        ledger.lineLength = std::strlen(ledgerLines[i]);
        std::memcpy(ledger.line, ledgerLines[i], ledger.lineLength);
    }
    return journal;
}

// Accumulated.txt as `pieces` at their offsets, with holes between them
// and up to `size`: what a removal and a power cut can leave.
void writeWithHoles(const ExchangeTest& test, const std::vector<std::pair<std::int64_t, std::string>>& pieces,
                    std::int64_t size) {
    ::unlink(test.path("Accumulated.txt").c_str());
    int fd = ::open(test.path("Accumulated.txt").c_str(), O_WRONLY | O_CREAT, 0644);
    for (const auto& [at, bytes] : pieces)
        ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), at), static_cast<ssize_t>(bytes.size()));
    ASSERT_EQ(::ftruncate(fd, size), 0);
    ::close(fd);
}

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
    Journal written = journalOf(JournalPhase::Punched, readSettled());
    written.ledgers[0].size = -1;
    written.records = written.exchange;
    written.way = RemovalWay::Cut;
    written.collapseFrom = 123456789012;
    ASSERT_TRUE(writeJournal(written));
    Journal read{};
    ASSERT_EQ(readJournal(read), JournalFound::Ours);
    EXPECT_EQ(read.phase, JournalPhase::Punched);
    EXPECT_TRUE(sameFile(read.exchange, written.exchange));
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(sameFile(read.ledgers[i].file, written.ledgers[i].file));
        EXPECT_EQ(read.ledgers[i].size, written.ledgers[i].size);
        EXPECT_TRUE(sameBytes(std::string_view(read.ledgers[i].line, read.ledgers[i].lineLength), ledgerLines[i]));
    }
    EXPECT_EQ(read.settled.bytes, written.settled.bytes);
    EXPECT_EQ(read.settled.tailHash, written.settled.tailHash);
    EXPECT_TRUE(sameBytes(std::string_view(read.settled.head, 64), std::string_view(written.settled.head, 64)));
    EXPECT_TRUE(sameFile(read.records, written.records));
    EXPECT_EQ(read.way, RemovalWay::Cut);
    EXPECT_EQ(read.collapseFrom, 123456789012);
    EXPECT_FALSE(fileExists(dir.work + "/" + journalNewPath));
}

TEST_F(JournalRecovery, NoJournalChangesNothing) {
    prepare(*this);
    EXPECT_TRUE(sameBytes(recover(), ""));
    EXPECT_TRUE(sameBytes(readFile(path("Account.txt")), "old\t1\n20261209\t809\t1141\t1950\n"));
    EXPECT_TRUE(sameBytes(readFile(path("AccountTrigger.txt")), "1"));
}

TEST_F(JournalRecovery, AJournalNotOfThisExchangeDirectoryTouchesNothingAndSaysSo) {
    // Copied in from another exchange directory, of another version, or
    // torn: in every phase, nothing is cut, removed or handed back, and it
    // stays for the operator.
    for (JournalPhase phase : {JournalPhase::Appending, JournalPhase::Recorded}) {
        for (int kind = 0; kind < 3; ++kind) {
            SCOPED_TRACE(std::to_string(kind) + (phase == JournalPhase::Appending ? " appending" : " recorded"));
            prepare(*this);
            Journal journal = journalOf(phase, readSettled());
            if (kind == 0) journal.exchange.inode += 1;
            ASSERT_TRUE(writeJournal(journal));
            std::string text = readFile(dir.work + "/" + journalPath);
            if (kind == 1) text.replace(text.find("journal 2"), 9, "journal 3");
            if (kind == 2) text.resize(text.size() / 2);
            writeFile(dir.work + "/" + journalPath, text);
            EXPECT_TRUE(sameBytes(recover(false), line(journalForeignText)));
            EXPECT_TRUE(sameBytes(readFile(path("Account.txt")), "old\t1\n20261209\t809\t1141\t1950\n"));
            EXPECT_TRUE(sameBytes(readFile(path("Accumulated.txt")), records));
            EXPECT_TRUE(sameBytes(readFile(path("AccountTrigger.txt")), "1"));
            EXPECT_TRUE(sameBytes(readFile(dir.work + "/" + journalPath), text));
        }
    }
}

TEST_F(JournalRecovery, ACutWhileAppendingCutsBackExactlyItsOwnLines) {
    // Cut before the metro line went out: that ledger has nothing to undo.
    prepare(*this);
    writeFile(path("MetroAccount.txt"), "old\t1\n");
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

TEST_F(JournalRecovery, ACutThatKeptALedgersSizeButNotItsBytesIsUndone) {
    // The line grew the file, but some or all of its bytes never reached
    // the disk and read as NUL bytes: still this settlement's own.
    const std::string bus = "20261209\t809\n";
    for (const std::string& tail : {std::string(bus.size(), '\0'), bus.substr(0, 4) + std::string(bus.size() - 4, '\0'),
                                    std::string(4, '\0')}) {
        SCOPED_TRACE(hex(tail));
        prepare(*this);
        ASSERT_TRUE(writeJournal(journalOf(JournalPhase::Appending, readSettled())));
        writeFile(path("BusAccount.txt"), "old\t1\n" + tail);
        EXPECT_TRUE(sameBytes(recover(), ""));
        for (const char* name : {"Account.txt", "BusAccount.txt", "MetroAccount.txt"})
            EXPECT_TRUE(sameBytes(readFile(path(name)), "old\t1\n")) << name;
        EXPECT_FALSE(fileExists(dir.work + "/" + journalPath));
    }
    // NUL bytes past the line's length are not.
    prepare(*this);
    ASSERT_TRUE(writeJournal(journalOf(JournalPhase::Appending, readSettled())));
    writeFile(path("BusAccount.txt"), "old\t1\n" + bus + std::string(1, '\0'));
    EXPECT_TRUE(sameBytes(recover(false), line(journalLedgersText)));
    EXPECT_TRUE(fileExists(dir.work + "/" + journalPath));
}

TEST_F(JournalRecovery, AnUndoOverLedgersThatAreNoLongerThoseTouchesNone) {
    // A ledger that ends with other bytes at the recorded size, one that
    // has grown past its line, one replaced by a copy: no ledger is cut.
    for (int kind = 0; kind < 3; ++kind) {
        SCOPED_TRACE(kind);
        prepare(*this);
        ASSERT_TRUE(writeJournal(journalOf(JournalPhase::Appending, readSettled())));
        std::string bus = "old\t1\n20261209\t809\n";
        if (kind == 0) bus = "old\t1\n20261209\t808\n";
        if (kind == 1) bus += "20261210\t5\n";
        if (kind == 2) {
            ASSERT_EQ(::rename(path("BusAccount.txt").c_str(), path("kept.txt").c_str()), 0);
        }
        writeFile(path("BusAccount.txt"), bus);
        EXPECT_TRUE(sameBytes(recover(false), line(journalLedgersText)));
        EXPECT_TRUE(sameBytes(readFile(path("Account.txt")), "old\t1\n20261209\t809\t1141\t1950\n"));
        EXPECT_TRUE(sameBytes(readFile(path("BusAccount.txt")), bus));
        EXPECT_TRUE(sameBytes(readFile(path("MetroAccount.txt")), "old\t1\n20261209\t1141\n"));
        EXPECT_TRUE(fileExists(dir.work + "/" + journalPath));
    }
}

TEST_F(JournalRecovery, ARecordedSettlementIsFinishedKeepingWhatCameAfter) {
    // Small and large settled parts, with and without appends after them:
    // cut to zero, blanked, or punched and collapsed by blocks.
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
            EXPECT_EQ(readAsACycle().count, appended ? 1 : 0);
        }
    }
}

TEST_F(JournalRecovery, ARemovalStoppedAtAnyStepIsFinishedOnce) {
    // Every state the removal passes through, as a kill or a power cut can
    // leave it, with the journal before and after each step: nothing yet;
    // the blanks behind the last whole block; those and the hole; a
    // collapse that shifted part of the survivors (a hole between them);
    // one that shifted all of them but kept the old size (their last
    // block's zeros, then a hole); a whole collapse. Each time the
    // survivors, and only they, are left, and read as themselves.
    std::string settled;
    while (settled.size() < 300000) settled += "c1 BUS t 1650 k\n";
    std::string after;
    while (after.size() < 3 * 4096 + 100) after += "n" + std::to_string(after.size()) + " METRO t 300 k\n";
    const auto s = static_cast<std::int64_t>(settled.size());
    const std::int64_t whole = s / 4096 * 4096, z = s + static_cast<std::int64_t>(after.size());
    const std::string blanks(static_cast<std::size_t>(s - whole), ' ');
    const std::string front = blanks + after;  // what a whole collapse leaves
    for (int step = 0; step <= 5; ++step) {
        for (JournalPhase phase : {JournalPhase::Recorded, JournalPhase::Removing, JournalPhase::Punched}) {
            // The journal moves to removing before the first step and to
            // punched once the hole is on disk, before any collapse.
            bool reachable = phase == JournalPhase::Recorded   ? step == 0
                             : phase == JournalPhase::Removing ? step <= 2
                                                               : step >= 2;
            if (!reachable) continue;
            SCOPED_TRACE("step " + std::to_string(step) + " phase " + std::to_string(static_cast<int>(phase)));
            prepare(*this, settled);
            Journal journal = journalOf(phase, readSettled());
            appendFile(path("Accumulated.txt"), after);
            ASSERT_TRUE(identityOfPath(accumulatedPath, journal.records));
            journal.collapseFrom = z;
            if (step == 1) writeWithHoles(*this, {{0, settled.substr(0, whole)}, {whole, blanks + after}}, z);
            if (step == 2) writeWithHoles(*this, {{whole, blanks + after}}, z);
            // Shifted by the leaf: the first two blocks of survivors moved.
            if (step == 3) writeWithHoles(*this, {{0, front.substr(0, 8192)}, {whole + 8192, front.substr(8192)}}, z);
            if (step == 4) writeWithHoles(*this, {{0, front}}, z);
            if (step == 5) writeWithHoles(*this, {{0, front}}, z - whole);
            if (step >= 1) {
                ASSERT_TRUE(identityOfPath(accumulatedPath, journal.records));
            }
            ASSERT_TRUE(writeJournal(journal));
            EXPECT_TRUE(sameBytes(recover(), ""));
            expectHandedBack(*this);
            EXPECT_TRUE(sameBytes(recordsLeft(*this).substr(0, 40), after.substr(0, 40)));

            // A record appended now is read in step with the survivors,
            // even one that begins with white space, so that a NUL byte
            // left before it would be a token of its own.
            appendFile(path("Accumulated.txt"), "\n" + late);
            CycleRead left = readAsACycle();
            const auto survivors = std::count(after.begin(), after.end(), '\n');
            EXPECT_EQ(left.count, survivors + 1);
            EXPECT_EQ(left.total, 300 * survivors + 1250);
            EXPECT_EQ(left.metro, 759 * survivors + 200);
        }
    }
}

TEST_F(JournalRecovery, AFileThatChangedIsLeftAloneAndSaysSo) {
    std::string fresh = "n1 BUS t 1650 k\nn2 BUS t 1650 k\nn3 BUS t 1650 k\n";
    prepare(*this);
    ASSERT_TRUE(writeJournal(journalOf(JournalPhase::Recorded, readSettled())));
    writeFile(path("Accumulated.txt"), fresh);  // rewritten in place by a peer
    EXPECT_TRUE(sameBytes(recover(), line(settledChangedText)));
    EXPECT_TRUE(sameBytes(readFile(path("Accumulated.txt")), fresh));
    expectHandedBack(*this);
}

TEST_F(JournalRecovery, TheSettledBytesAreKnownByContentWhateverTheInode) {
    // A copy put in place of the file, as `sed -i` that changed nothing
    // does: the same bytes, and so the settled records, are removed.
    prepare(*this);
    ASSERT_TRUE(writeJournal(journalOf(JournalPhase::Recorded, readSettled())));
    ASSERT_EQ(::rename(path("Accumulated.txt").c_str(), path("old.txt").c_str()), 0);
    writeFile(path("Accumulated.txt"), records + late);
    EXPECT_TRUE(sameBytes(recover(), ""));
    expectHandedBack(*this);
    EXPECT_TRUE(sameBytes(recordsLeft(*this), late));
}

TEST_F(JournalRecovery, RecordsThatAlreadyLeftAreNotRemovedTwice) {
    // The removal ran, then peers appended the very same bytes again: once
    // the journal says the settled bytes were punched, they are not looked
    // for again.
    prepare(*this);
    Journal journal = journalOf(JournalPhase::Punched, readSettled());
    ASSERT_TRUE(identityOfPath(accumulatedPath, journal.records));
    ASSERT_TRUE(writeJournal(journal));
    int fd = openAccumulated(*this);
    ASSERT_EQ(::ftruncate(fd, 0), 0);
    ASSERT_EQ(::write(fd, records.data(), records.size()), static_cast<ssize_t>(records.size()));
    ::close(fd);
    EXPECT_TRUE(sameBytes(recover(), ""));
    EXPECT_TRUE(sameBytes(readFile(path("Accumulated.txt")), records));
    expectHandedBack(*this);
}

TEST_F(JournalRecovery, AJournalThatCannotBeFinishedStaysAndBlocks) {
    prepare(*this);
    ASSERT_TRUE(writeJournal(journalOf(JournalPhase::Recorded, readSettled())));
    ::unlink(path("Accumulated.txt").c_str());
    ASSERT_EQ(::mkdir(path("Accumulated.txt").c_str(), 0755), 0);
    EXPECT_TRUE(sameBytes(recover(false), line(openFailed)));
    EXPECT_TRUE(fileExists(dir.work + "/" + journalPath));
    EXPECT_TRUE(sameBytes(readFile(path("AccountTrigger.txt")), "1"));
}

TEST_F(JournalRecovery, ASettlementLeavesNoJournalBehind) {
    writeFile(path("Accumulated.txt"), records);
    CycleRead read = readAsACycle();
    const char date[9] = "20261209";
    StdoutCapture capture = startCapture();
    Settlement settlement;
    ASSERT_EQ(prepareSettlement(date, read.bus, read.metro, read.total, read.settled, settlement), nullptr);
    recordSettlement(settlement);
    EXPECT_TRUE(sameBytes(endCapture(capture), ""));
    EXPECT_FALSE(fileExists(dir.work + "/" + journalPath));
    EXPECT_FALSE(fileExists(dir.work + "/" + journalNewPath));
    EXPECT_TRUE(sameBytes(readFile(path("Account.txt")), "20261209\t809\t1141\t1950\n"));
}
