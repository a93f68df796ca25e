// Money is conserved under load: two peers append fares without pause and
// a third requests settlements every few seconds, while fare-settle runs.
// Nothing appended may be lost or counted twice, and the three ledgers must
// agree line by line.
#include "program.h"

#include <algorithm>
#include <atomic>
#include <linux/magic.h>
#include <sys/vfs.h>
#include <chrono>
#include <sstream>
#include <string>
#include <thread>

namespace {

using Soak = ProgramTest;

constexpr auto soakTime = std::chrono::seconds(75);

// Column `field` (1-based, after the date) of every line of a ledger.
long long columnSum(const std::string& ledger, int field, std::size_t& lines) {
    std::istringstream in(ledger);
    std::string line;
    long long sum = 0;
    lines = 0;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string date;
        long long value = 0;
        std::getline(fields, date, '\t');
        for (int i = 0; i < field; ++i) fields >> value;
        sum += value;
        ++lines;
    }
    return sum;
}

}  // namespace

TEST_F(Soak, NothingIsLostOrCountedTwiceUnderLoad) {
    ASSERT_EQ(runPeer(*this, {"init", dir.root}).status, 0);
    Program program = startProgram(*this);
    auto deadline = std::chrono::steady_clock::now() + soakTime;
    std::atomic<bool> failed{false};
    PeerSums appended[2];
    std::thread appenders[2];
    for (int a = 0; a < 2; ++a) {
        appenders[a] = std::thread([&, a] {
            for (int round = 0; std::chrono::steady_clock::now() < deadline; ++round) {
                std::string seed = std::to_string(a * 1000000 + round);
                PeerRun run = runPeer(*this, {"generate", "2000", "--seed", seed, "--mix", "any", "--print-sums"});
                if (run.status != 0) {
                    failed = true;
                    return;
                }
                PeerSums s = peerSums(run.out);
                appended[a].records += s.records;
                appended[a].total += s.total;
                appended[a].bus += s.bus;
                appended[a].metro += s.metro;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
    }
    // What a settlement leaves in front of the records that came after it
    // is less than a block where whole blocks can be collapsed away.
    struct statfs fsInfo {};
    ASSERT_EQ(::statfs(dir.root.c_str(), &fsInfo), 0);
    bool collapses = fsInfo.f_type != TMPFS_MAGIC;
    std::size_t maxDead = 0;
    int settlements = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        ASSERT_EQ(runPeer(*this, {"request"}).status, 0);
        PeerRun wait = runPeer(*this, {"wait", "--timeout", "60"});
        ASSERT_EQ(wait.status, 0) << wait.err;
        ++settlements;
        std::string now = readFile(path("Accumulated.txt"));
        std::size_t dead = std::min(now.find_first_not_of(" \t\n"), now.size());
        maxDead = std::max(maxDead, dead);
        if (collapses) {
            EXPECT_LT(dead, static_cast<std::size_t>(fsInfo.f_bsize)) << "after settlement " << settlements;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    for (std::thread& t : appenders) t.join();
    ASSERT_FALSE(failed);
    // A last settlement takes what the appenders left.
    ASSERT_EQ(runPeer(*this, {"request"}).status, 0);
    ASSERT_EQ(runPeer(*this, {"wait", "--timeout", "60"}).status, 0);
    ++settlements;
    stopProgram(program);

    PeerSums expected;
    for (const PeerSums& s : appended) {
        expected.records += s.records;
        expected.total += s.total;
        expected.bus += s.bus;
        expected.metro += s.metro;
    }
    std::string left = readFile(path("Accumulated.txt"));
    EXPECT_EQ(left.find_first_not_of(' '), std::string::npos) << "records left unsettled";
    std::size_t lines = 0, busLines = 0, metroLines = 0;
    std::string account = readFile(path("Account.txt"));
    EXPECT_EQ(columnSum(account, 3, lines), expected.total);
    EXPECT_EQ(columnSum(account, 1, lines), expected.bus);
    EXPECT_EQ(columnSum(account, 2, lines), expected.metro);
    EXPECT_EQ(columnSum(readFile(path("BusAccount.txt")), 1, busLines), expected.bus);
    EXPECT_EQ(columnSum(readFile(path("MetroAccount.txt")), 1, metroLines), expected.metro);
    EXPECT_EQ(lines, static_cast<std::size_t>(settlements));
    PeerRun ledgers = runPeer(*this, {"ledgers"});
    EXPECT_EQ(ledgers.status, 0) << ledgers.out;
    std::printf("soak: %d settlements, %lld records, total %lld, nothing lost or doubled; dead prefix at most %zu bytes\n",
                settlements, expected.records, expected.total, maxDead);
}
