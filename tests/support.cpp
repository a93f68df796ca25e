#include "support.h"

#include "Cycle.h"
#include "exchange/accumulated.h"
#include "text/text.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

ExchangeDir makeExchangeDir() {
    std::string pattern = (fs::temp_directory_path() / "fare-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    ExchangeDir dir;
    dir.root = pattern + "/exchange";
    dir.work = dir.root + "/run/settle";
    dir.previous = fs::current_path().string();
    fs::create_directories(dir.work);
    fs::current_path(dir.work);
    return dir;
}

void removeExchangeDir(const ExchangeDir& dir) {
    fs::current_path(dir.previous);
    std::error_code ignored;
    fs::remove_all(fs::path(dir.root).parent_path(), ignored);
}

std::string line(std::string_view text) { return std::string(text) + "\n"; }

bool succeeded(const ExchangeTest& test) { return readFile(test.path("AccountSuccess.txt")) == "1"; }

std::string exchangePath(const ExchangeDir& dir, std::string_view name) {
    return dir.root + "/" + std::string(name);
}

void writeFile(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void appendFile(const std::string& path, std::string_view bytes) {
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0666);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "<missing>";
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

bool fileExists(const std::string& path) {
    std::error_code ignored;
    return fs::exists(fs::symlink_status(path, ignored));
}

std::string hex(std::string_view bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (!out.empty()) out += ' ';
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

::testing::AssertionResult sameBytes(std::string_view actual, std::string_view expected) {
    if (actual == expected) return ::testing::AssertionSuccess();
    std::size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
    auto window = [at](std::string_view s) {
        std::size_t from = at > 16 ? at - 16 : 0;
        return hex(s.substr(from, 48));
    };
    return ::testing::AssertionFailure()
           << "bytes differ at offset " << at << " (actual " << actual.size() << " bytes, expected "
           << expected.size() << ")\n  actual:   " << window(actual)
           << "\n  expected: " << window(expected);
}

StdoutCapture startCapture() {
    flushConsole();
    StdoutCapture capture;
    capture.path = (fs::temp_directory_path() / "fare-stdout-XXXXXX").string();
    int fd = ::mkstemp(capture.path.data());
    capture.saved = ::dup(1);
    ::dup2(fd, 1);
    ::close(fd);
    return capture;
}

std::string endCapture(StdoutCapture& capture) {
    flushConsole();
    ::dup2(capture.saved, 1);
    ::close(capture.saved);
    std::string out = readFile(capture.path);
    ::unlink(capture.path.c_str());
    return out;
}

CycleRead readAsACycle(bool settling) {
    CycleRead read;
    StdoutCapture capture = startCapture();
    AccumulatedSnapshot snapshot{};
    dataCount(snapshot);
    if (settling)
        readAndDivide(snapshot, read.total, read.bus, read.metro);
    else
        skipAccumulated(snapshot);
    read.out = endCapture(capture);
    read.count = snapshot.recordCount;
    read.settled = snapshot.settled;
    return read;
}
