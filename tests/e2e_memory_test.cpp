// Peak memory of the real programs, a settlement and fare-peer check, on
// record files of every shape: it stays flat whatever the content, as the
// kernel measures it (the children's peak resident set), not a timing.
#include "program.h"
#include "text/text.h"

#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

// A bound with room to spare over the table, the 1 MiB read buffer and the
// program itself; what the readers keep never grows with the file.
constexpr long boundKiB = 16 * 1024;

class Memory : public ProgramTest {
public:
    void SetUp() override {
        ProgramTest::SetUp();
#ifdef FARE_SANITIZED
        GTEST_SKIP() << "the sanitizers' own memory hides the programs'";
#endif
    }
};

// Appends `unit` to the record file until it holds `bytes` more bytes.
void fill(const std::string& file, const std::string& unit, long long bytes) {
    std::string block;
    while (block.size() < (1u << 20)) block += unit;
    int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    ASSERT_GE(fd, 0);
    for (long long left = bytes; left > 0;) {
        auto n = static_cast<std::size_t>(std::min<long long>(left, static_cast<long long>(block.size())));
        ASSERT_EQ(::write(fd, block.data(), n), static_cast<ssize_t>(n));
        left -= static_cast<long long>(n);
    }
    ::close(fd);
}

// The sums `fare-peer check` says a settlement would make, as a ledger line
// would give them after the date.
std::string checkedSums(const std::string& out) {
    long long total = 0, bus = 0, metro = 0;
    std::size_t at = out.find("a settlement now:");
    if (at == std::string::npos ||
        std::sscanf(out.c_str() + at, "a settlement now: total %lld, bus %lld, metro %lld", &total, &bus, &metro) != 3)
        return "no sums in: " + out.substr(0, 400);
    return std::to_string(bus) + "\t" + std::to_string(metro) + "\t" + std::to_string(total) + "\n";
}

// Checks, then settles, the record file as it stands; both in bounded
// memory, and the settlement records what the check said it would.
void settleInBoundedMemory(ProgramTest& test) {
    writeFile(test.path("Time.txt"), "20261209");
    PeerRun check = runPeer(test, {"check"});
    EXPECT_LT(check.peakKiB, boundKiB) << "fare-peer check, KiB";
    writeFile(test.path("AccountTrigger.txt"), "1");
    Program program = startProgram(test);
    EXPECT_TRUE(waitUntil([&] { return readFile(test.path("AccountSuccess.txt")) == "1"; }, 240));
    stopProgram(program);
    EXPECT_LT(program.peakKiB, boundKiB) << "the settlement, KiB";
    std::printf("peak memory: settlement %ld KiB, check %ld KiB\n", program.peakKiB, check.peakKiB);
    EXPECT_TRUE(sameBytes(readFile(test.path("Account.txt")), "20261209\t" + checkedSums(check.out)));
    EXPECT_EQ(countOf(outputOf(program), settledText), 1u);
}

constexpr long long mib = 1 << 20;

}  // namespace

TEST_F(Memory, OrdinaryRecords) {
    fill(path("Accumulated.txt"), "20261209083001 BUS 0001 1650 CARD001\n20261209083002 METRO 0002 1250 CARD002\n",
         256 * mib);
    settleInBoundedMemory(*this);
}

TEST_F(Memory, AWordForEveryAmount) {
    // Four tokens a record: every record after the first is out of step,
    // and records outrun the count by a fifth.
    fill(path("Accumulated.txt"), "tap BUS stop fare card\n", 256 * mib);
    settleInBoundedMemory(*this);
}

TEST_F(Memory, OneLetterTokens) {
    fill(path("Accumulated.txt"), "a\n", 256 * mib);
    settleInBoundedMemory(*this);
}

TEST_F(Memory, OneTokenOfAGibibyte) {
    fill(path("Accumulated.txt"), std::string(4096, 'x'), 1024 * mib);
    fill(path("Accumulated.txt"), " BUS t 1650 k\nc METRO t 1250 k\n", 32);
    settleInBoundedMemory(*this);
}

TEST_F(Memory, NulBytes) {
    fill(path("Accumulated.txt"), "c BUS t 1650 k\n", 15);
    fill(path("Accumulated.txt"), std::string(4096, '\0'), 256 * mib);
    fill(path("Accumulated.txt"), " METRO t 1250 k\n", 16);
    settleInBoundedMemory(*this);
}

TEST_F(Memory, TwoGibibytesOfOrdinaryAndGarbledRecords) {
    std::string unit;
    for (int i = 0; i < 50; ++i) unit += "20261209083001 BUS 0001 1650 CARD001\n";
    for (int i = 0; i < 50; ++i) unit += "tap METRO stop fare card\n";
    fill(path("Accumulated.txt"), unit, 2048 * mib);
    settleInBoundedMemory(*this);
}
