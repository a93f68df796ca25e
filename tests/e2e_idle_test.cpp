// The real program while no settlement is asked for.
#include "program.h"
#include "text/text.h"

#include <cstdio>
#include <string>

namespace {

using Idle = ProgramTest;

// What "clear" writes for a terminal type, asked of clear itself.
std::string clearBytes(const char* term) { return commandOutput(std::string("TERM=") + term + " clear"); }

}  // namespace

TEST_F(Idle, EveryFileMissingPrintsFourLinesAndTheIdleTextEachCycle) {
    Program program = startProgram(*this);
    ASSERT_TRUE(waitUntil([&] { return countOf(outputOf(program), idleText) >= 3; }));
    stopProgram(program);
    std::string unit = line(openFailedCount) + line(openFailedRequest) + line(openFailedRequest) +
                       line(openFailedRecords) + std::string(idleText);
    EXPECT_TRUE(repeats(outputOf(program), unit));
    EXPECT_FALSE(fileExists(path("Account.txt")));
    EXPECT_FALSE(fileExists(path("AccountSuccess.txt")));
}

TEST_F(Idle, AQuietDirectoryShowsOnlyTheIdleTextAndTouchesNothing) {
    writeFile(path("Time.txt"), "20261209\n");
    writeFile(path("AccountTrigger.txt"), "0");
    writeFile(path("Accumulated.txt"), "a BUS c 1650 e\n");
    Program program = startProgram(*this);
    ASSERT_TRUE(waitUntil([&] { return countOf(outputOf(program), idleText) >= 3; }));
    // Requests that are not exactly 1 keep it idle.
    for (const char* other : {"2", "-1", "word", "", "4294967297", "1000000000000000000001"}) {
        writeFile(path("AccountTrigger.txt"), other);
        std::size_t seen = countOf(outputOf(program), idleText);
        ASSERT_TRUE(waitUntil([&] { return countOf(outputOf(program), idleText) >= seen + 3; }));
    }
    stopProgram(program);
    EXPECT_TRUE(repeats(outputOf(program), idleText));
    EXPECT_TRUE(sameBytes(readFile(path("Accumulated.txt")), "a BUS c 1650 e\n"));
    EXPECT_FALSE(fileExists(path("Account.txt")));
}

TEST_F(Idle, OutputReachesAPipeInTheOrderATerminalShowsIt) {
    std::string clear = clearBytes("xterm");
    ASSERT_FALSE(clear.empty()) << "no terminfo entry for xterm";
    writeFile(path("Time.txt"), "20261209\n");
    Program program = startProgram(*this, "xterm");
    ASSERT_TRUE(waitUntil([&] { return countOf(outputOf(program), idleText) >= 3; }));
    stopProgram(program);
    // The failure lines were printed before the clearing in each cycle.
    std::string unit = line(openFailedCount) + line(openFailedRequest) + line(openFailedRecords) +
                       clear + std::string(idleText);
    EXPECT_TRUE(repeats(outputOf(program), unit));
}
