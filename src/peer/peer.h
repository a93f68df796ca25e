// fare-peer plays the peer processes of the exchange directory: it writes
// the date and fare records, requests settlements, waits for them and
// reads the ledgers. It uses the same file formats a real peer must, and
// nothing of the settlement program but its file names and checked I/O.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

using Args = std::vector<std::string>;

// Exit statuses.
inline constexpr int peerOk = 0;
inline constexpr int peerFailed = 1;
inline constexpr int peerBadInput = 2;

// Prints "fare-peer: <message>" on standard error and returns `status`.
int peerError(int status, const char* format, ...) __attribute__((format(printf, 2, 3)));

std::string exchangeFile(const std::string& dir, const char* path);
std::string today();
// Whether `text` is one token of 1 to `room` bytes.
bool isToken(const std::string& text, std::size_t room);
bool parseWhole(const std::string& text, std::int64_t& value);
// Appends whole records in one write(2) under a shared lock, so a
// settlement never sees half a record and never cuts one away.
bool appendRecords(const std::string& path, const char* data, std::size_t size);

int peerInit(const std::string& self, const Args& args);
int peerDate(const std::string& dir, const Args& args);
int peerTap(const std::string& dir, const Args& args);
int peerGenerate(const std::string& dir, const Args& args);
int peerRequest(const std::string& dir, const Args& args);
int peerWait(const std::string& dir, const Args& args);
int peerLedgers(const std::string& dir, const Args& args);
int peerCheck(const std::string& dir, const Args& args);
int peerStatus(const std::string& dir, const Args& args);

// What the generator produced, summed by the peer's own fare table.
struct FareSums {
    long long records;
    long long total;
    long long bus;
    long long metro;
};

enum class FareMix { Table, Any };

// Appends `count` records to `out`, each a whole line, drawn from `random`.
void generateRecords(std::mt19937_64& random, FareMix mix, long long first, long long count,
                     const std::string& date, std::string& out, FareSums& sums);

// One settlement as the three ledgers recorded it, and what disagrees.
struct LedgerRow {
    std::string date;
    long long bus;
    long long metro;
    long long total;
};
struct LedgerCheck {
    std::vector<LedgerRow> rows;
    std::vector<std::string> problems;
};
LedgerCheck checkLedgers(const std::string& account, const std::string& bus,
                         const std::string& metro);
