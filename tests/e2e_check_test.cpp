// fare-peer check: what a settlement would make of a record file, and where
// the file would garble it, named by byte offset, line and record.
#include "program.h"
#include "text/text.h"

#include <string>
#include <vector>

namespace {

using Check = ProgramTest;

}  // namespace

TEST_F(Check, ACleanFileShowsTheSumsARealSettlementRecords) {
    ASSERT_EQ(runPeer(*this, {"init", dir.root}).status, 0);
    ASSERT_EQ(runPeer(*this, {"generate", "200000", "--seed", "7"}).status, 0);
    std::string before = readFile(path("Accumulated.txt"));
    PeerRun check = runPeer(*this, {"check"});
    EXPECT_EQ(check.status, 0) << check.out << check.err;
    EXPECT_NE(check.out.find("200000 records"), std::string::npos) << check.out;
    EXPECT_TRUE(sameBytes(readFile(path("Accumulated.txt")), before)) << "the check wrote to the file";

    Program program = startProgram(*this);
    ASSERT_EQ(runPeer(*this, {"request"}).status, 0);
    ASSERT_EQ(runPeer(*this, {"wait", "--timeout", "60"}).status, 0);
    stopProgram(program);
    std::string ledger = readFile(path("Account.txt"));
    std::string sums = ledger.substr(ledger.find('\t') + 1);  // bus, metro, total
    std::string bus = sums.substr(0, sums.find('\t'));
    sums = sums.substr(bus.size() + 1);
    std::string metro = sums.substr(0, sums.find('\t'));
    std::string total = sums.substr(metro.size() + 1, sums.size() - metro.size() - 2);
    EXPECT_NE(check.out.find("a settlement now: total " + total + ", bus " + bus + ", metro " + metro),
              std::string::npos)
        << check.out << " vs the ledger " << ledger;
}

TEST_F(Check, EachGarblingIsNamedWhereItIs) {
    const std::string good = "a1 BUS t 1650 k\n";  // 16 bytes a line
    struct Case {
        const char* what;
        std::string bad;     // the second line
        std::string finding;  // offset, line, record, kind, token
    } cases[] = {
        {"word amount", "a2 BUS t twelve k\n", "25\t2\t2\tamount-not-a-number\ttwelve"},
        {"letters behind the amount", "a2 BUS t 1650x k\n", "25\t2\t2\tamount-with-letters\t1650x"},
        {"unknown carrier", "a2 TAXI t 1650 k\n", "19\t2\t2\tcarrier-unknown\tTAXI"},
        {"lower-case carrier", "a2 Bus t 1650 k\n", "19\t2\t2\tcarrier-unknown\tBus"},
        {"NUL in the carrier", std::string("a2 BUS\0 t 1650 k\n", 17), "19\t2\t2\tcontrol-byte\tBUS\\x00"},
        {"25-digit amount", "a2 BUS t 1234567890123456789012345 k\n",
         "25\t2\t2\tamount-out-of-range\t123456789012345678901234...(25 bytes)"},
        {"half a record at the end", "a2 BUS t", "16\t2\t2\tleft-over\t3 tokens"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // A half record can only be the last: anywhere else it is an
        // out-of-step reading of what follows.
        bool last = c.bad.back() != '\n';
        writeFile(path("suspect.txt"), good + c.bad + (last ? "" : good));
        PeerRun list = runPeer(*this, {"check", "--list", path("suspect.txt")});
        EXPECT_EQ(list.status, 1) << list.out << list.err;
        EXPECT_NE(list.out.find(c.finding + "\n"), std::string::npos) << "got:\n" << list.out;
        PeerRun summary = runPeer(*this, {"check", path("suspect.txt")});
        EXPECT_EQ(summary.status, 1);
        EXPECT_NE(summary.out.find("the file has findings"), std::string::npos) << summary.out;
    }
    writeFile(path("suspect.txt"), good + good);
    EXPECT_EQ(runPeer(*this, {"check", "--list", path("suspect.txt")}).out, "");
}

TEST_F(Check, AWordAmountShiftsEveryRecordAfterItAndSaysHowMany) {
    std::string file;
    for (int i = 0; i < 10; ++i) file += "a BUS t " + std::string(i == 3 ? "word" : "1650") + " k\n";
    writeFile(path("suspect.txt"), file);
    PeerRun summary = runPeer(*this, {"check", path("suspect.txt")});
    EXPECT_EQ(summary.status, 1);
    // Each record after it finds a word where its amount should be, until
    // the fifth shift brings the reading back in step with record 9.
    EXPECT_NE(summary.out.find("out of step from record 4 (line 4, byte 53): amount 'word'; 4 records read out of "
                               "step after it"),
              std::string::npos)
        << summary.out;
    EXPECT_NE(summary.out.find("step changes again at record 8 (line 7, byte 103): amount 'k'; now 0 tokens out of step"),
              std::string::npos)
        << summary.out;
}

TEST_F(Check, BadUsageAndUnreadableFilesGetOneLineAndExitTwo) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"check", "--fast"}, std::vector<std::string>{"check", "a", "b"},
          std::vector<std::string>{"check", path("missing.txt")}, std::vector<std::string>{"check", dir.root}}) {
        PeerRun run = runPeer(*this, args);
        EXPECT_EQ(run.status, 2) << args.back();
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(countOf(run.err, "\n"), 1u) << run.err;
    }
}

TEST_F(Check, EveryPrefixAndOneHugeTokenReadWithoutHarm) {
    std::string file = "a1 BUS t 1650 k\na2 B\x01S t 12x k\na3 METRO t -300 k\n";
    for (std::size_t n = 0; n <= file.size(); ++n) {
        writeFile(path("suspect.txt"), file.substr(0, n));
        int status = runPeer(*this, {"check", "--list", path("suspect.txt")}).status;
        EXPECT_TRUE(status == 0 || status == 1) << n << " bytes: " << status;
    }
    writeFile(path("suspect.txt"), "a1 BUS t " + std::string(8 << 20, '7') + " k\n");
    PeerRun huge = runPeer(*this, {"check", "--list", path("suspect.txt")});
    EXPECT_EQ(huge.status, 1);
    EXPECT_NE(huge.out.find("9\t1\t1\tamount-out-of-range\t777777777777777777777777...(8388608 bytes)"),
              std::string::npos)
        << huge.out;
}
