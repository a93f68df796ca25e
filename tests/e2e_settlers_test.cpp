// One settlement program per exchange directory, whatever working
// directory each is started from, and fare-peer status telling an operator
// which it is.
#include "program.h"
#include "launch.h"
#include "scene.h"
#include "text/text.h"

#include <csignal>
#include <filesystem>
#include <string>

namespace {

using Settlers = ProgramTest;

std::size_t ledgerLines(const ExchangeTest& test) { return countOf(readFile(test.path("Account.txt")), "\n"); }

void settleOnceMore(const ExchangeTest& test) {
    writeFile(test.path("AccountSuccess.txt"), "0");
    appendFile(test.path("Accumulated.txt"), "c BUS t 1650 k\n");
    writeFile(test.path("AccountTrigger.txt"), "1");
    ASSERT_TRUE(waitUntil([&] { return succeeded(test) && readFile(test.path("AccountTrigger.txt")) == "0"; }));
}

}  // namespace

TEST_F(Settlers, ASecondNeverSettlesAndTakesOverWhenTheFirstIsKilled) {
    writeFile(path("Time.txt"), "20261209");
    writeFile(path("AccountTrigger.txt"), "0");
    Program first = startProgram(*this);
    ASSERT_TRUE(waitUntil([&] { return outputOf(first).find(idleText) != std::string::npos; }));
    // Started from a working directory of its own, with a journal of its own.
    std::string otherWork = dir.root + "/run/other";
    std::string otherOut = dir.root + "/../other.out";
    std::filesystem::create_directories(otherWork);
    pid_t second = launchSettle(otherWork, otherOut, "/dev/null");
    running.push_back(second);
    ASSERT_TRUE(waitUntil([&] { return readFile(otherOut).find(anotherSettlerText) != std::string::npos; }));

    PeerRun status = runPeer(*this, {"--exchange", dir.root, "status"});
    EXPECT_EQ(status.status, 0) << status.out;
    EXPECT_NE(status.out.find("serving"), std::string::npos) << status.out;

    for (int i = 0; i < 3; ++i) settleOnceMore(*this);
    EXPECT_EQ(ledgerLines(*this), 3u) << "each request settled once, by the first";
    EXPECT_TRUE(repeats(readFile(otherOut), anotherSettlerText));

    // Killed with no chance to let go: the kernel drops the lock.
    ::kill(first.pid, SIGKILL);
    ASSERT_TRUE(waitUntil([&] { return readFile(otherOut).find(idleText) != std::string::npos; }));
    settleOnceMore(*this);
    EXPECT_EQ(ledgerLines(*this), 4u);
    EXPECT_TRUE(sameBytes(readFile(path("Account.txt")), std::string() + "20261209\t1268\t382\t1650\n" +
                                                              "20261209\t1268\t382\t1650\n" +
                                                              "20261209\t1268\t382\t1650\n" +
                                                              "20261209\t1268\t382\t1650\n"));
    status = runPeer(*this, {"--exchange", dir.root, "status"});
    EXPECT_EQ(status.status, 0);
    EXPECT_NE(status.out.find("Account.txt         20261209\t1268\t382\t1650"), std::string::npos) << status.out;
    EXPECT_NE(status.out.find("AccountTrigger.txt  '0'"), std::string::npos) << status.out;
    EXPECT_NE(status.out.find("AccountSuccess.txt  '1'"), std::string::npos) << status.out;

    // Ctrl-C ends the one that took over as it ends any.
    Program taken{second, otherOut, "", 0};
    stopProgram(taken, SIGINT);
    status = runPeer(*this, {"--exchange", dir.root, "status"});
    EXPECT_EQ(status.status, 1);
    EXPECT_NE(status.out.find("NONE"), std::string::npos) << status.out;
}
