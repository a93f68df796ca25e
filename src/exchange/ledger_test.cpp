// Recording a settlement: the ledger lines, the hand-back, and what happens
// when a file cannot be opened or written.
#include "exchange/exchange.h"
#include "support.h"
#include "text/text.h"

#include <filesystem>
#include <string>
#include <vector>

namespace {

using SettlementRecord = ExchangeTest;

SettledBytes takeSnapshot() { return readAsACycle().settled; }

// Records a settlement as the cycle does and returns what it printed.
std::string record(const char (&date)[9], std::int64_t bus, std::int64_t metro, std::int64_t total,
                   const SettledBytes& snapshot) {
    StdoutCapture capture = startCapture();
    recordSettlement(date, bus, metro, total, snapshot);
    return endCapture(capture);
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

TEST_F(SettlementRecord, AFileThatCannotOpenStopsTheWholeRecord) {
    const char* names[] = {"Account.txt", "BusAccount.txt", "MetroAccount.txt", "Accumulated.txt"};
    const char date[9] = "20261209";
    for (const char* blocked : names) {
        SCOPED_TRACE(blocked);
        for (const char* name : names) std::filesystem::remove_all(path(name));
        writeFile(path("Accumulated.txt"), "a BUS c 1650 e\n");
        SettledBytes snapshot = takeSnapshot();
        writeFile(path("Account.txt"), "20261208\t1\t2\t3\n");
        writeFile(path("AccountTrigger.txt"), "1");
        std::filesystem::remove_all(path(blocked));
        std::filesystem::create_directory(path(blocked));

        EXPECT_TRUE(sameBytes(record(date, 1268, 382, 1650, snapshot), line(openFailed)));
        if (std::string(blocked) != "Account.txt") {
            EXPECT_TRUE(sameBytes(readFile(path("Account.txt")), "20261208\t1\t2\t3\n"));
        }
        for (const char* ledger : {"BusAccount.txt", "MetroAccount.txt"}) {
            if (std::string(blocked) != ledger) {
                EXPECT_TRUE(sameBytes(readFile(path(ledger)), ""));
            }
        }
        if (std::string(blocked) != "Accumulated.txt") {
            EXPECT_TRUE(sameBytes(readFile(path("Accumulated.txt")), "a BUS c 1650 e\n"));
        }
        EXPECT_TRUE(sameBytes(readFile(path("AccountTrigger.txt")), "1"));
        EXPECT_FALSE(fileExists(path("AccountSuccess.txt")));
    }
}

TEST_F(SettlementRecord, EveryFileThatCannotOpenIsReportedInOrder) {
    for (const char* name : {"Account.txt", "MetroAccount.txt", "Accumulated.txt"})
        std::filesystem::create_directory(path(name));
    const char date[9] = "20261209";
    EXPECT_TRUE(sameBytes(record(date, 1, 2, 3, takeSnapshot()), line(openFailed) + line(openFailed) + line(openFailed)));
    EXPECT_TRUE(sameBytes(readFile(path("BusAccount.txt")), ""));
}

TEST_F(SettlementRecord, AFullDiskUndoesTheLinesAlreadyAppended) {
    const char date[9] = "20261209";
    for (const char* full : {"Account.txt", "BusAccount.txt", "MetroAccount.txt"}) {
        SCOPED_TRACE(full);
        for (const char* name : {"Account.txt", "BusAccount.txt", "MetroAccount.txt"})
            writeFile(path(name), "old\t1\n");
        writeFile(path("Accumulated.txt"), "a BUS c 1650 e\n");
        writeFile(path("AccountTrigger.txt"), "1");
        std::filesystem::remove(path(full));
        std::filesystem::create_symlink("/dev/full", path(full));
        SettledBytes snapshot = takeSnapshot();

        EXPECT_TRUE(sameBytes(record(date, 1268, 382, 1650, snapshot), line(openFailed)));
        for (const char* name : {"Account.txt", "BusAccount.txt", "MetroAccount.txt"}) {
            if (std::string(name) != full) {
                EXPECT_TRUE(sameBytes(readFile(path(name)), "old\t1\n")) << name;
            }
        }
        EXPECT_TRUE(sameBytes(readFile(path("Accumulated.txt")), "a BUS c 1650 e\n"));
        EXPECT_TRUE(sameBytes(readFile(path("AccountTrigger.txt")), "1"));
        EXPECT_FALSE(fileExists(path("AccountSuccess.txt")));
        std::filesystem::remove(path(full));
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
