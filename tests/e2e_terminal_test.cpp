// fare-settle in a real terminal, read off the screen as a person sees it
// through luit on a UTF-8 terminal.
#include "program.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

}  // namespace

// The tmux server, and the program in it, go when the test ends, passed or
// failed.
class Terminal : public ProgramTest {
public:
    void TearDown() override {
        if (!tmux.empty()) std::system((tmux + " kill-server 2>/dev/null").c_str());
        ProgramTest::TearDown();
    }
    std::string tmux;
};

TEST_F(Terminal, ShowsKoreanIdleAndReportAndEndsOnCtrlC) {
    writeFile(path("Time.txt"), "20261209");
    writeFile(path("AccountTrigger.txt"), "0");
    writeFile(path("Accumulated.txt"), "c1 BUS t 1650 k\n");
    tmux = "tmux -L fare-test-" + std::to_string(::getpid());
    std::string ended = path("ended");
    std::string command = "cd '" + dir.work + "' && LANG=C.UTF-8 LC_ALL=C.UTF-8 luit -encoding EUC-KR -- " +
                          FARE_SETTLE + "; printf 'after-the-stop\\\\n'; touch '" + ended + "'; sleep 30";
    ASSERT_EQ(std::system((tmux + " new-session -d -x 80 -y 12 \"" + command + "\"").c_str()), 0);
    auto screen = [&] { return commandOutput(tmux + " capture-pane -p"); };

    EXPECT_TRUE(waitUntil([&] { return screen().find("정산시간이 아닙니다.") != std::string::npos; }))
        << screen();
    ASSERT_EQ(runPeer(*this, {"request"}).status, 0);
    EXPECT_TRUE(waitUntil([&] { return screen().find("정산이 완료되었습니다.") != std::string::npos; }))
        << screen();
    std::string report = screen();
    EXPECT_NE(report.find("전체정산 금액 : 1650"), std::string::npos) << report;
    EXPECT_NE(report.find("BUS정산 금액 : 1268"), std::string::npos) << report;
    EXPECT_NE(report.find("METRO정산 금액 : 382"), std::string::npos) << report;
    EXPECT_TRUE(waitUntil([&] { return readFile(path("AccountSuccess.txt")) == "1"; }));

    EXPECT_TRUE(waitUntil([&] { return screen().find("정산시간이 아닙니다.") != std::string::npos; }));
    std::system((tmux + " send-keys C-c").c_str());
    EXPECT_TRUE(waitUntil([&] { return fileExists(ended); }, 10)) << "Ctrl-C did not end it: " << screen();
    EXPECT_TRUE(sameBytes(readFile(path("Account.txt")), "20261209\t1268\t382\t1650\n"));
    // What follows the program starts on a line of its own.
    EXPECT_NE(("\n" + screen()).find("\nafter-the-stop\n"), std::string::npos) << screen();
}

TEST_F(Terminal, CtrlCEndsAnIdleProgramEveryTime) {
    // One terminal, the program started again and again; each time Ctrl-C
    // is pressed a little later into its cycle. A miss is a Ctrl-C after
    // which the program still runs five seconds on.
    writeFile(path("Time.txt"), "20261209");
    writeFile(path("AccountTrigger.txt"), "0");
    writeFile(path("Accumulated.txt"), "");
    constexpr int runs = 50;
    tmux = "tmux -L fare-test-" + std::to_string(::getpid());
    std::string ends = path("ends");
    std::string list;
    for (int run = 1; run <= runs; ++run) list += " " + std::to_string(run);
    std::string command = "cd '" + dir.work + "' && for run in" + list + "; do clear; LANG=C.UTF-8 LC_ALL=C.UTF-8 luit -encoding EUC-KR -- " + FARE_SETTLE +
                          "; echo ended >> '" + ends + "'; done; sleep 30";
    ASSERT_EQ(std::system((tmux + " new-session -d -x 80 -y 12 \"" + command + "\"").c_str()), 0);
    auto screen = [&] { return commandOutput(tmux + " capture-pane -p"); };
    auto ended = [&] { return static_cast<int>(countOf(readFile(ends), "\n")); };
    int misses = 0;
    for (int run = 1; run <= runs; ++run) {
        ASSERT_TRUE(waitUntil([&] { return ended() == run - 1 && screen().find("정산시간이 아닙니다.") != std::string::npos; }))
            << "run " << run << ": " << screen();
        ::usleep(static_cast<useconds_t>((run % 10) * 37000));
        std::system((tmux + " send-keys C-c").c_str());
        if (waitUntil([&] { return ended() == run; }, 5)) continue;
        ++misses;
        for (int again = 0; again < 5 && ended() < run; ++again) {
            std::system((tmux + " send-keys C-c").c_str());
            waitUntil([&] { return ended() == run; }, 5);
        }
        ASSERT_EQ(ended(), run) << "run " << run << " does not end at all";
    }
    EXPECT_EQ(misses, 0) << "of " << runs << " runs";
}
