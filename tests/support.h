// Helpers shared by the tests: a fresh exchange directory per test, exact
// file contents, and byte comparisons that show hex when they differ.
#pragma once

#include "exchange/exchange.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

// Makes <tmp>/exchange/run/settle and enters it, so the program's "../../"
// paths land in <tmp>/exchange. Leaves and removes it all afterwards.
struct ExchangeDir {
    std::string root;      // the exchange directory
    std::string work;      // the working directory two levels below it
    std::string previous;  // the working directory before the test
};
ExchangeDir makeExchangeDir();
void removeExchangeDir(const ExchangeDir& dir);

std::string exchangePath(const ExchangeDir& dir, std::string_view name);
void writeFile(const std::string& path, std::string_view bytes);
void appendFile(const std::string& path, std::string_view bytes);
// The whole content, or "<missing>" when the file does not exist.
std::string readFile(const std::string& path);
bool fileExists(const std::string& path);

// `text` and a line feed, as the program prints a line.
std::string line(std::string_view text);

std::string hex(std::string_view bytes);
::testing::AssertionResult sameBytes(std::string_view actual, std::string_view expected);

// Everything a test needs to write to the console through printText and
// friends is captured from file descriptor 1 while this is alive.
struct StdoutCapture {
    int saved;
    std::string path;
};
StdoutCapture startCapture();
std::string endCapture(StdoutCapture& capture);

// Accumulated.txt read as a cycle reads it: opened, then, when settling,
// read block by block with each block divided; what it printed is kept.
struct CycleRead {
    std::int64_t count = 0;  // whole records read
    std::int64_t total = 0;
    std::int64_t bus = 0;
    std::int64_t metro = 0;
    SettledBytes settled{};
    std::string out;
};
CycleRead readAsACycle(bool settling = true);

class ExchangeTest : public ::testing::Test {
public:
    void SetUp() override { dir = makeExchangeDir(); }
    void TearDown() override { removeExchangeDir(dir); }
    std::string path(std::string_view name) const { return exchangePath(dir, name); }
    ExchangeDir dir;
};

// The success file says 1: a settlement was handed back.
bool succeeded(const ExchangeTest& test);
