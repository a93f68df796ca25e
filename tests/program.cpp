#include "program.h"

#include "text/text.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

Program startProgram(const ExchangeDir& dir, const char* term) {
    Program program;
    program.out = dir.root + "/../stdout";
    program.err = dir.root + "/../stderr";
    pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(dir.work.c_str()) != 0) ::_exit(126);
        int out = ::open(program.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        int err = ::open(program.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        int in = ::open("/dev/null", O_RDONLY);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        if (term != nullptr)
            ::setenv("TERM", term, 1);
        else
            ::unsetenv("TERM");
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execl(FARE_SETTLE, FARE_SETTLE, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    program.pid = pid;
    return program;
}

std::string outputOf(const Program& program) { return readFile(program.out); }

int stopProgram(Program& program, int signal) {
    int status = 0;
    if (program.pid <= 0) return -1;
    ::kill(program.pid, signal);
    ::waitpid(program.pid, &status, 0);
    program.pid = -1;
    return status;
}

int waitExit(Program& program, double seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        if (::waitpid(program.pid, &status, WNOHANG) == program.pid) {
            program.pid = -1;
            return status;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return -1;
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
