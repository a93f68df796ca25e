// A settlement killed at every step, then the program started again: each
// settlement is still recorded exactly once. strace kills the real process
// just before its N-th call of one kind, N = 1, 2, ... until the settlement
// gets through.
#include "program.h"
#include "text/text.h"

#include <csignal>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Crash = ProgramTest;

const std::string oldLine = "20261208\t1\t2\t3\n";

void prepare(const ExchangeTest& test) {
    for (const char* name : {"Account.txt", "BusAccount.txt", "MetroAccount.txt", "AccountSuccess.txt"})
        std::remove(test.path(name).c_str());
    writeFile(test.path("Account.txt"), oldLine);
    writeFile(test.path("BusAccount.txt"), "20261208\t1\n");
    writeFile(test.path("MetroAccount.txt"), "20261208\t2\n");
    writeFile(test.path("Time.txt"), "20261209");
    writeFile(test.path("Accumulated.txt"), "c1 BUS t 1650 k\nc2 METRO t 300 k\n");
    writeFile(test.path("AccountTrigger.txt"), "1");
}

// Runs the program under strace until the kill lands or `seconds` pass;
// true when the process was killed.
bool runKilled(const ProgramTest& test, const std::string& call, int n, double seconds) {
    std::string inject = call + ":signal=SIGKILL:when=" + std::to_string(n);
    pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(test.dir.work.c_str()) != 0) ::_exit(126);
        int out = ::open("../../../stdout", O_WRONLY | O_CREAT | O_TRUNC, 0666);
        int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(out, 1);
        ::dup2(null, 2);
        ::unsetenv("TERM");
        ::setpgid(0, 0);
        ::execlp("strace", "strace", "-qq", "-o", "/dev/null", "-e", ("trace=" + call).c_str(), "-e",
                 ("inject=" + inject).c_str(), FARE_SETTLE, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    bool ended = waitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, seconds);
    if (!ended) {
        ::kill(-pid, SIGKILL);
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    return ended;
}

}  // namespace

TEST_F(Crash, AKillAtAnyStepIsUndoneOrFinishedOnRestart) {
    int kills = 0;
    for (const char* call : {"write", "fsync", "pwrite64", "ftruncate", "rename", "unlink"}) {
        for (int n = 1;; ++n) {
            SCOPED_TRACE(std::string(call) + " " + std::to_string(n));
            prepare(*this);
            bool killed = runKilled(*this, call, n, 6);
            bool settledBeforeTheKill = readFile(path("AccountSuccess.txt")) == "1" &&
                                        !fileExists(dir.work + "/fare-settle.journal");
            if (killed && !settledBeforeTheKill) ++kills;

            Program program = startProgram(*this);
            ASSERT_TRUE(waitUntil([&] {
                return readFile(path("AccountSuccess.txt")) == "1" && countOf(outputOf(program), idleText) > 0;
            })) << outputOf(program);
            stopProgram(program);

            EXPECT_TRUE(sameBytes(readFile(path("Account.txt")), oldLine + "20261209\t809\t1141\t1950\n"));
            EXPECT_TRUE(sameBytes(readFile(path("BusAccount.txt")), "20261208\t1\n20261209\t809\n"));
            EXPECT_TRUE(sameBytes(readFile(path("MetroAccount.txt")), "20261208\t2\n20261209\t1141\n"));
            std::string left = readFile(path("Accumulated.txt"));
            EXPECT_EQ(left.find_first_not_of(' '), std::string::npos) << left;
            EXPECT_TRUE(sameBytes(readFile(path("AccountTrigger.txt")), "0"));
            EXPECT_FALSE(fileExists(dir.work + "/fare-settle.journal"));
            if (!killed || settledBeforeTheKill) break;
        }
    }
    // The kills that landed inside a settlement; fewer would mean strace
    // was not killing anything.
    EXPECT_GE(kills, 12);
    std::printf("kills inside a settlement: %d\n", kills);
}
