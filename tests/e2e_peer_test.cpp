// fare-peer driving the real fare-settle, the way an operator would.
#include "program.h"

#include <sstream>
#include <string>

namespace {

using Peer = ProgramTest;

}  // namespace

TEST_F(Peer, BadInputGetsOneLineAndExitTwoAndWritesNothing) {
    writeFile(path("Accumulated.txt"), "a BUS c 1650 e\n");
    writeFile(path("Time.txt"), "20261209");
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"settle"},
        {"tap"},
        {"tap", "BUS"},
        {"tap", "BUS", "12x"},
        {"tap", "BUS", "1650", "CARD-TOO-LONG"},
        {"tap", "BUS ES", "1650"},
        {"tap", "BUS", "99999999999999999999"},
        {"generate"},
        {"generate", "ten"},
        {"generate", "-5"},
        {"generate", "10", "--mix", "some"},
        {"generate", "10", "--seed"},
        {"generate", "10", "--fast"},
        {"date", "2026-12-09"},
        {"date", "a b"},
        {"wait", "--timeout", "soon"},
        {"request", "now"},
        {"--exchange", "/nonexistent/dir", "request"},
        {"--exchange", "../../Time.txt", "request"},
        {"init"},
    };
    for (const auto& args : cases) {
        std::string shown;
        for (const auto& a : args) shown += a + " ";
        PeerRun run = runPeer(*this, args);
        EXPECT_EQ(run.status, 2) << shown;
        EXPECT_EQ(run.err.rfind("fare-peer: ", 0), 0u) << shown << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << shown << run.err;
        EXPECT_TRUE(sameBytes(run.out, "")) << shown;
    }
    EXPECT_TRUE(sameBytes(readFile(path("Accumulated.txt")), "a BUS c 1650 e\n"));
    EXPECT_TRUE(sameBytes(readFile(path("Time.txt")), "20261209"));
    EXPECT_FALSE(fileExists(path("AccountTrigger.txt")));
}

TEST_F(Peer, AnOperatorsSessionFromInitToTwoSettlements) {
    PeerRun init = runPeer(*this, {"init", dir.root});
    ASSERT_EQ(init.status, 0) << init.err;
    EXPECT_NE(init.out.find("request && "), std::string::npos) << init.out;
    EXPECT_TRUE(sameBytes(readFile(path("AccountTrigger.txt")), "0"));
    EXPECT_TRUE(sameBytes(readFile(path("Accumulated.txt")), ""));
    ASSERT_EQ(runPeer(*this, {"date", "20261209"}).status, 0);
    EXPECT_TRUE(sameBytes(readFile(path("Time.txt")), "20261209\n"));
    ASSERT_EQ(runPeer(*this, {"tap", "BUS", "1650", "C000042"}).status, 0);
    PeerRun taxi = runPeer(*this, {"tap", "TAXI", "500"});
    ASSERT_EQ(taxi.status, 0);
    EXPECT_NE(taxi.out.find("counts toward the total only"), std::string::npos);
    std::string records = readFile(path("Accumulated.txt"));
    EXPECT_NE(records.find(" BUS 0001 1650 C000042\n"), std::string::npos) << records;

    Program program = startProgram(*this);
    ASSERT_EQ(runPeer(*this, {"request"}).status, 0);
    PeerRun first = runPeer(*this, {"wait", "--timeout", "30"});
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_NE(first.out.find("Account.txt       20261209\t1268\t382\t2150\n"), std::string::npos) << first.out;
    EXPECT_NE(first.out.find("BusAccount.txt    20261209\t1268\n"), std::string::npos) << first.out;
    EXPECT_TRUE(sameBytes(readFile(path("AccountSuccess.txt")), "0"));  // set back by wait

    ASSERT_EQ(runPeer(*this, {"date", "20261210"}).status, 0);
    ASSERT_EQ(runPeer(*this, {"tap", "METRO", "300"}).status, 0);
    ASSERT_EQ(runPeer(*this, {"request"}).status, 0);
    PeerRun second = runPeer(*this, {"wait", "--timeout", "30"});
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_NE(second.out.find("MetroAccount.txt  20261210\t759\n"), std::string::npos) << second.out;
    stopProgram(program);

    PeerRun ledgers = runPeer(*this, {"ledgers"});
    EXPECT_EQ(ledgers.status, 0) << ledgers.out;
    EXPECT_TRUE(sameBytes(ledgers.out,
                          "    #  date                 bus           metro           total\n"
                          "    1  20261209            1268             382            2150\n"
                          "    2  20261210            -459             759             300\n"
                          "  sum                       809            1141            2450\n"
                          "the three ledgers agree\n"));

    // Without a running program, waiting ends in a clear time-out.
    ASSERT_EQ(runPeer(*this, {"request"}).status, 0);
    PeerRun late = runPeer(*this, {"wait", "--timeout", "0"});
    EXPECT_EQ(late.status, 1);
    EXPECT_NE(late.err.find("no settlement within 0 s"), std::string::npos) << late.err;
}

TEST_F(Peer, TwoMillionGeneratedRecordsSettleToThePeersOwnSumsInLittleMemory) {
    ASSERT_EQ(runPeer(*this, {"init", dir.root}).status, 0);
    PeerRun generated = runPeer(*this, {"generate", "2000000", "--seed", "42", "--mix", "any", "--print-sums"});
    ASSERT_EQ(generated.status, 0) << generated.err;
    PeerSums sums = peerSums(generated.out);
    ASSERT_EQ(sums.records, 2000000);

    Program program = startProgram(*this);
    ASSERT_EQ(runPeer(*this, {"request"}).status, 0);
    ASSERT_EQ(runPeer(*this, {"wait", "--timeout", "60"}).status, 0);
    stopProgram(program);
    std::string date = readFile(path("Time.txt"));
    date.pop_back();
    EXPECT_TRUE(sameBytes(readFile(path("Account.txt")),
                          line(date + "\t" + std::to_string(sums.bus) + "\t" + std::to_string(sums.metro) + "\t" +
                               std::to_string(sums.total))));
    EXPECT_TRUE(sameBytes(readFile(path("Accumulated.txt")), ""));
    // The records pass through one block's table: 2 million of them held at
    // once would take 80 MB.
    EXPECT_LT(program.peakKiB, 64 * 1024) << "KiB";
}
