// Stopping the real program: at once when idle, and never in the middle of
// a settlement.
#include "program.h"
#include "text/text.h"

#include <csignal>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

class FifoInPlace : public ProgramTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(FifoInPlace, NeitherHoldsTheProgramNorKeepsItFromStopping) {
    // A FIFO that nobody writes, in place of one exchange file, with a
    // request standing: it is a file that cannot be opened, and each stop
    // signal still ends the program within a cycle.
    const std::string fifo = GetParam();
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        for (const char* name : {"Time.txt", "AccountTrigger.txt", "Accumulated.txt", "Account.txt", "BusAccount.txt",
                                 "MetroAccount.txt", "AccountSuccess.txt"})
            ::unlink(path(name).c_str());
        writeFile(path("Time.txt"), "20261209");
        writeFile(path("Accumulated.txt"), "c1 BUS t 1650 k\n");
        writeFile(path("AccountTrigger.txt"), "1");
        ::unlink(path(fifo).c_str());
        ASSERT_EQ(::mkfifo(path(fifo).c_str(), 0644), 0);
        Program program = startProgram(*this);
        // Some cycles' worth of failure lines, idle texts or reports.
        ASSERT_TRUE(waitUntil([&] { return outputOf(program).size() > 16; }));
        ::usleep(300000);
        ::kill(program.pid, signal);
        int status = waitExit(program, 10);
        ASSERT_NE(status, -1) << "still running";
        ASSERT_TRUE(WIFSIGNALED(status));
        EXPECT_EQ(WTERMSIG(status), signal);
        struct stat st {};
        EXPECT_TRUE(::stat(path(fifo).c_str(), &st) == 0 && S_ISFIFO(st.st_mode)) << "the FIFO was replaced";
    }
}

INSTANTIATE_TEST_SUITE_P(EachExchangeFile, FifoInPlace,
                         ::testing::Values("Time.txt", "AccountTrigger.txt", "Accumulated.txt", "Account.txt",
                                           "BusAccount.txt", "MetroAccount.txt", "AccountSuccess.txt"),
                         [](const auto& test) { return std::string(test.param).substr(0, std::string(test.param).find('.')); });
