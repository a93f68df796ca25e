// Stopping the real program: at once when idle, and never in the middle of
// a settlement.
#include "program.h"
#include "text/text.h"

#include <csignal>
#include <string>
#include <sys/wait.h>

namespace {

using Stopping = ProgramTest;

}  // namespace

TEST_F(Stopping, AnIdleProgramEndsByTheSignalItIsSent) {
    writeFile(path("Time.txt"), "20261209");
    writeFile(path("AccountTrigger.txt"), "0");
    writeFile(path("Accumulated.txt"), "");
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        Program program = startProgram(*this);
        ASSERT_TRUE(waitUntil([&] { return countOf(outputOf(program), idleText) >= 5; }));
        ::kill(program.pid, signal);
        int status = waitExit(program, 10);
        ASSERT_NE(status, -1) << "still running";
        ASSERT_TRUE(WIFSIGNALED(status));
        EXPECT_EQ(WTERMSIG(status), signal);
        EXPECT_TRUE(repeats(outputOf(program), idleText));
    }
}

TEST_F(Stopping, ASignalDuringTheReportWaitsForTheWholeSettlement) {
    writeFile(path("Time.txt"), "20261209");
    writeFile(path("Accumulated.txt"), "c1 BUS t 1650 k\n");
    writeFile(path("AccountTrigger.txt"), "1");
    Program program = startProgram(*this);
    ASSERT_TRUE(waitUntil([&] { return countOf(outputOf(program), settledText) == 1; }));
    ::kill(program.pid, SIGINT);
    ::kill(program.pid, SIGTERM);
    int status = waitExit(program, 10);
    ASSERT_NE(status, -1) << "still running";
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_TRUE(WTERMSIG(status) == SIGINT || WTERMSIG(status) == SIGTERM);
    EXPECT_TRUE(sameBytes(outputOf(program), reportBytes(1650, 1268, 382)));
    EXPECT_TRUE(sameBytes(readFile(path("Account.txt")), "20261209\t1268\t382\t1650\n"));
    EXPECT_TRUE(sameBytes(readFile(path("MetroAccount.txt")), "20261209\t382\n"));
    EXPECT_TRUE(sameBytes(readFile(path("AccountTrigger.txt")), "0"));
    EXPECT_TRUE(sameBytes(readFile(path("AccountSuccess.txt")), "1"));
    EXPECT_TRUE(sameBytes(readFile(path("Accumulated.txt")), ""));
}
