// Recording a settlement: the ledger lines, the hand-back, and what happens
// when a file cannot be opened or written.
#include "exchange/exchange.h"
#include "exchange/journal.h"
#include "exchange/ledger.h"
#include "support.h"
#include "text/text.h"

#include <csignal>
#include <filesystem>
#include <iterator>
#include <sys/resource.h>
#include <sys/stat.h>
#include <string>
#include <vector>

namespace {

using SettlementRecord = ExchangeTest;

SettledBytes takeSnapshot() { return readAsACycle().settled; }

// What record() gives for a settlement that could not be made ready.
std::string unopened(const char* path) { return std::string("cannot open ") + path; }

// Records a settlement as the cycle does and returns what it printed, or
// unopened(path) when it stopped before the report.
std::string record(const char (&date)[9], std::int64_t bus, std::int64_t metro, std::int64_t total,
                   const SettledBytes& snapshot) {
    StdoutCapture capture = startCapture();
    Settlement settlement;
    const char* failed = prepareSettlement(date, bus, metro, total, snapshot, settlement);
    if (failed == nullptr) recordSettlement(settlement);
    std::string out = endCapture(capture);
    return failed == nullptr ? out : out + unopened(failed);
}

std::size_t openDescriptors() {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                                  std::filesystem::directory_iterator()));
}

// Records as record() does, with every write past `bytes` into a file
// failing (EFBIG, as ENOSPC on a full disk) while it runs.
std::string recordOnAFullDisk(rlim_t bytes, const char (&date)[9], std::int64_t bus, std::int64_t metro,
                              std::int64_t total, const SettledBytes& snapshot) {
    rlimit before{};
    ::getrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit low = before;
    low.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &low);
    std::string out = record(date, bus, metro, total, snapshot);
    ::setrlimit(RLIMIT_FSIZE, &before);
    return out;
}

}  // namespace

TEST_F(SettlementRecord, AFirstSettlementCreatesEveryFile) {
    writeFile(path("AccountTrigger.txt"), "1");
    const char date[9] = "20261209";
    EXPECT_TRUE(sameBytes(record(date, 1268, 382, 1650, takeSnapshot()), ""));
    EXPECT_TRUE(sameBytes(readFile(path("Account.txt")), "20261209\t1268\t382\t1650\n"));
    EXPECT_TRUE(sameBytes(readFile(path("BusAccount.txt")), "20261209\t1268\n"));
    EXPECT_TRUE(sameBytes(readFile(path("MetroAccount.txt")), "20261209\t382\n"));
    EXPECT_TRUE(sameBytes(readFile(path("AccountTrigger.txt")), "0"));
    EXPECT_TRUE(sameBytes(readFile(path("AccountSuccess.txt")), "1"));
    EXPECT_TRUE(sameBytes(readFile(path("Accumulated.txt")), ""));
}

TEST_F(SettlementRecord, LaterSettlementsAppendInOrderWithSignsAndEmptyDates) {
    writeFile(path("AccountSuccess.txt"), "0000\n");
    const char first[9] = "20261208";
    const char none[9] = {};
    record(first, -459, 759, 300, takeSnapshot());
    record(none, 3000000000LL, 0, 3000000000LL, takeSnapshot());
    EXPECT_TRUE(sameBytes(readFile(path("Account.txt")), "20261208\t-459\t759\t300\n\t3000000000\t0\t3000000000\n"));
    EXPECT_TRUE(sameBytes(readFile(path("BusAccount.txt")), "20261208\t-459\n\t3000000000\n"));
    EXPECT_TRUE(sameBytes(readFile(path("MetroAccount.txt")), "20261208\t759\n\t0\n"));
    EXPECT_TRUE(sameBytes(readFile(path("AccountSuccess.txt")), "1"));
}

TEST_F(SettlementRecord, AFileThatCannotOpenStopsTheSettlementBeforeItIsReported) {
    // A directory, a FIFO or a device in a file's place: the first such
    // file in order is named, nothing is written, nothing is left open.
    const char* names[] = {"Account.txt", "BusAccount.txt", "MetroAccount.txt", "Accumulated.txt"};
    const char date[9] = "20261209";
    for (const char* kind : {"directory", "fifo", "device"}) {
        for (const char* blocked : names) {
            SCOPED_TRACE(std::string(blocked) + " as a " + kind);
            for (const char* name : names) std::filesystem::remove_all(path(name));
            writeFile(path("Accumulated.txt"), "a BUS c 1650 e\n");
            SettledBytes snapshot = takeSnapshot();
            writeFile(path("Account.txt"), "20261208\t1\t2\t3\n");
            writeFile(path("AccountTrigger.txt"), "1");
            std::filesystem::remove_all(path(blocked));
            if (kind == std::string("directory")) std::filesystem::create_directory(path(blocked));
            if (kind == std::string("fifo")) {
                ASSERT_EQ(::mkfifo(path(blocked).c_str(), 0644), 0);
            }
            if (kind == std::string("device")) std::filesystem::create_symlink("/dev/null", path(blocked));
            std::size_t open = openDescriptors();

            EXPECT_TRUE(sameBytes(record(date, 1268, 382, 1650, snapshot), unopened((std::string("../../") + blocked).c_str())));
            EXPECT_EQ(openDescriptors(), open);
            EXPECT_FALSE(fileExists(dir.work + "/" + journalPath));
            if (std::string(blocked) != "Account.txt") {
                EXPECT_TRUE(sameBytes(readFile(path("Account.txt")), "20261208\t1\t2\t3\n"));
            }
            if (std::string(blocked) != "Accumulated.txt") {
                EXPECT_TRUE(sameBytes(readFile(path("Accumulated.txt")), "a BUS c 1650 e\n"));
            }
            EXPECT_TRUE(sameBytes(readFile(path("AccountTrigger.txt")), "1"));
            EXPECT_FALSE(fileExists(path("AccountSuccess.txt")));
        }
    }
    // Of several, the first in the order they are opened.
    for (const char* name : names) std::filesystem::remove_all(path(name));
    for (const char* name : {"MetroAccount.txt", "Accumulated.txt", "BusAccount.txt"})
        std::filesystem::create_directory(path(name));
    EXPECT_TRUE(sameBytes(record(date, 1, 2, 3, takeSnapshot()), unopened("../../BusAccount.txt")));
}

TEST_F(SettlementRecord, AJournalThatCannotBeWrittenStopsTheSettlementBeforeItIsReported) {
    const char date[9] = "20261209";
    writeFile(path("Accumulated.txt"), "a BUS c 1650 e\n");
    writeFile(path("AccountTrigger.txt"), "1");
    SettledBytes snapshot = takeSnapshot();
    // Written, not only opened: past the size limit, as on a full disk.
    EXPECT_TRUE(sameBytes(recordOnAFullDisk(64, date, 1268, 382, 1650, snapshot), unopened(journalPath)));
    EXPECT_FALSE(fileExists(dir.work + "/" + journalPath));
    EXPECT_FALSE(fileExists(dir.work + "/" + journalNewPath));
    EXPECT_TRUE(sameBytes(readFile(path("Account.txt")), ""));
    EXPECT_TRUE(sameBytes(readFile(path("AccountTrigger.txt")), "1"));
    EXPECT_TRUE(sameBytes(readFile(path("Accumulated.txt")), "a BUS c 1650 e\n"));
}

TEST_F(SettlementRecord, AWriteFailingPastTheReportUndoesTheLinesAlreadyAppended) {
    // The full ledger stands at the size limit, so its line is the one
    // write that fails (the room reserved for it ignores the limit, as a
    // write can still fail on a real disk); the lines already appended are
    // cut back.
    const char date[9] = "20261209";
    const std::string fullLedger = [] {
        std::string s;
        while (s.size() + 9 <= 4096) s += "20261208\n";
        return s + std::string(4096 - s.size(), '#');
    }();
    for (const char* full : {"Account.txt", "BusAccount.txt", "MetroAccount.txt"}) {
        SCOPED_TRACE(full);
        for (const char* name : {"Account.txt", "BusAccount.txt", "MetroAccount.txt"})
            writeFile(path(name), name == std::string(full) ? fullLedger : "old\t1\n");
        writeFile(path("Accumulated.txt"), "a BUS c 1650 e\n");
        writeFile(path("AccountTrigger.txt"), "1");
        SettledBytes snapshot = takeSnapshot();

        EXPECT_TRUE(sameBytes(recordOnAFullDisk(4096, date, 1268, 382, 1650, snapshot), line(openFailed)));
        for (const char* name : {"Account.txt", "BusAccount.txt", "MetroAccount.txt"})
            EXPECT_TRUE(sameBytes(readFile(path(name)), name == std::string(full) ? fullLedger : "old\t1\n")) << name;
        EXPECT_TRUE(sameBytes(readFile(path("Accumulated.txt")), "a BUS c 1650 e\n"));
        EXPECT_TRUE(sameBytes(readFile(path("AccountTrigger.txt")), "1"));
        EXPECT_FALSE(fileExists(path("AccountSuccess.txt")));
        EXPECT_FALSE(fileExists(dir.work + "/" + journalPath));
    }
}

TEST_F(SettlementRecord, RecordsAppendedAfterTheReadSurviveTheEmptying) {
    const char date[9] = "20261209";
    for (std::size_t records : {1, 5000}) {
        SCOPED_TRACE(records);
        std::string settled;
        for (std::size_t i = 0; i < records; ++i) settled += "20261209083001 BUS 0001 1650 CARD001\n";
        writeFile(path("Accumulated.txt"), settled);
        SettledBytes snapshot = takeSnapshot();
        std::string late = "20261209090000 METRO 0002 300 CARD002\n";
        appendFile(path("Accumulated.txt"), late);

        EXPECT_TRUE(sameBytes(record(date, 1, 1, 2, snapshot), ""));
        std::string left = readFile(path("Accumulated.txt"));
        std::size_t blanks = left.find_first_not_of(' ');
        ASSERT_NE(blanks, std::string::npos);
        EXPECT_TRUE(sameBytes(left.substr(blanks), late));
        EXPECT_LE(blanks, settled.size());
    }
}

TEST_F(SettlementRecord, AFileReplacedOrCutSinceTheReadIsLeftAlone) {
    const char date[9] = "20261209";
    writeFile(path("Accumulated.txt"), "a BUS c 1650 e\n");
    SettledBytes snapshot = takeSnapshot();
    std::filesystem::rename(path("Accumulated.txt"), path("old.txt"));
    writeFile(path("Accumulated.txt"), "new BUS c 1650 e\nmore BUS c 1650 e\n");
    record(date, 1, 1, 2, snapshot);
    EXPECT_TRUE(sameBytes(readFile(path("Accumulated.txt")), "new BUS c 1650 e\nmore BUS c 1650 e\n"));

    snapshot = takeSnapshot();
    writeFile(path("Accumulated.txt"), "x");
    record(date, 1, 1, 2, snapshot);
    EXPECT_TRUE(sameBytes(readFile(path("Accumulated.txt")), "x"));
}
