#include "program.h"

#include "launch.h"
#include "text/text.h"

#include <chrono>
#include <cstdio>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

void ProgramTest::TearDown() {
    for (pid_t pid : running) {
        // Only children not yet waited for are still ours to kill.
        if (::waitpid(pid, nullptr, WNOHANG) == 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
    ExchangeTest::TearDown();
}

Program startProgram(ProgramTest& test, const char* term) {
    Program program;
    program.out = test.dir.root + "/../stdout";
    program.err = test.dir.root + "/../stderr";
    program.pid = launchSettle(test.dir.work, program.out, program.err, term);
    test.running.push_back(program.pid);
    return program;
}

std::string outputOf(const Program& program) { return readFile(program.out); }

PeerRun runPeer(const ExchangeTest& test, const std::vector<std::string>& args) {
    // Unique names: tests may run several peers at once from threads.
    std::string out = test.dir.root + "/../peer-out-XXXXXX";
    std::string err = test.dir.root + "/../peer-err-XXXXXX";
    ::close(::mkstemp(out.data()));
    ::close(::mkstemp(err.data()));
    pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(test.dir.work.c_str()) != 0) ::_exit(126);
        int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        ::dup2(o, 1);
        ::dup2(e, 2);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(FARE_PEER));
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(FARE_PEER, argv.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    PeerRun run{WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(out), readFile(err), usage.ru_maxrss};
    ::unlink(out.c_str());
    ::unlink(err.c_str());
    EXPECT_EQ(run.err.find("Sanitizer"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("runtime error"), std::string::npos) << run.err;
    return run;
}

namespace {

// A sanitizer report or a crash must fail the test that saw it, even when
// the files happen to look right.
void expectCleanEnd(const Program& program, int status, int signal) {
    std::string err = readFile(program.err);
    EXPECT_EQ(err.find("Sanitizer"), std::string::npos) << err;
    EXPECT_EQ(err.find("runtime error"), std::string::npos) << err;
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal)
        << "the program did not end by signal " << signal << ", wait status " << status;
}

}  // namespace

int stopProgram(Program& program, int signal) {
    int status = 0;
    if (program.pid <= 0) return -1;
    ::kill(program.pid, signal);
    rusage usage{};
    ::wait4(program.pid, &status, 0, &usage);
    program.peakKiB = usage.ru_maxrss;
    program.pid = -1;
    expectCleanEnd(program, status, signal);
    return status;
}

int waitExit(Program& program, double seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        rusage usage{};
        if (::wait4(program.pid, &status, WNOHANG, &usage) == program.pid) {
            program.peakKiB = usage.ru_maxrss;
            program.pid = -1;
            expectCleanEnd(program, status, WIFSIGNALED(status) ? WTERMSIG(status) : 0);
            return status;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return -1;
}

PeerSums peerSums(const std::string& out) {
    PeerSums sums;
    std::size_t at = out.find("records ");
    if (at == std::string::npos) return sums;
    std::string word;
    std::istringstream in(out.substr(at));
    in >> word >> sums.records >> word >> sums.total >> word >> sums.bus >> word >> sums.metro;
    return sums;
}

std::string commandOutput(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    ::pclose(pipe);
    return out;
}

bool waitUntil(const std::function<bool()>& ready, double seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (ready()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return ready();
}

std::size_t countOf(std::string_view haystack, std::string_view needle) {
    std::size_t count = 0;
    for (std::size_t at = haystack.find(needle); at != std::string_view::npos;
         at = haystack.find(needle, at + needle.size()))
        ++count;
    return count;
}

::testing::AssertionResult repeats(std::string_view out, std::string_view unit) {
    if (unit.empty() || out.size() < unit.size() || out.size() % unit.size() != 0)
        return ::testing::AssertionFailure()
               << out.size() << " bytes are no whole number of " << unit.size()
               << "-byte cycles; they begin " << hex(out.substr(0, 64));
    for (std::size_t at = 0; at < out.size(); at += unit.size()) {
        if (out.substr(at, unit.size()) != unit)
            return ::testing::AssertionFailure()
                   << "cycle at offset " << at << " differs:\n  actual:   "
                   << hex(out.substr(at, unit.size())) << "\n  expected: " << hex(unit);
    }
    return ::testing::AssertionSuccess();
}

std::string reportBytes(long long total, long long bus, long long metro) {
    auto sum = [](std::string_view label, long long value) {
        return std::string(label) + std::to_string(value) + " \n";
    };
    return std::string(settledText) + "\n" + sum(totalLabel, total) + sum(busLabel, bus) +
           sum(metroLabel, metro);
}
