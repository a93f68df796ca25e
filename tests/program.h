// Running the real fare-settle in a test's exchange directory.
#pragma once

#include "support.h"

#include <csignal>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

struct Program {
    pid_t pid;
    std::string out;  // standard output, captured to a file
    std::string err;
    long peakKiB;     // its peak resident memory, once it has ended
};

// A test that runs the program; whatever it left running is killed when
// the test ends, passed or failed.
class ProgramTest : public ExchangeTest {
public:
    void TearDown() override;
    std::vector<pid_t> running;
};

// Starts the program in the test's working directory with TERM unset (so
// "clear" prints nothing on standard output), or with `term` when given.
Program startProgram(ProgramTest& test, const char* term = nullptr);
std::string outputOf(const Program& program);
// Sends `signal`, checks that the program ended by it cleanly, and returns
// the wait status.
int stopProgram(Program& program, int signal = SIGTERM);
// Waits for the process to end; -1 if it has not within `seconds`.
int waitExit(Program& program, double seconds);

// Runs fare-peer to its end in the test's working directory.
struct PeerRun {
    int status;  // exit status, or -1 when it did not exit normally
    std::string out;
    std::string err;
    long peakKiB;  // its peak resident memory
};
PeerRun runPeer(const ExchangeTest& test, const std::vector<std::string>& args);

// The sums that `fare-peer generate --print-sums` prints.
struct PeerSums {
    long long records = 0, total = 0, bus = 0, metro = 0;
};
PeerSums peerSums(const std::string& out);

// What a shell command prints on standard output.
std::string commandOutput(const std::string& command);

bool waitUntil(const std::function<bool()>& ready, double seconds = 20);
std::size_t countOf(std::string_view haystack, std::string_view needle);
// Whether `out` is `unit` repeated a whole number of times, at least once.
::testing::AssertionResult repeats(std::string_view out, std::string_view unit);

// The report a settlement prints, byte for byte.
std::string reportBytes(long long total, long long bus, long long metro);
