// Many settlements side by side: each scene is an exchange directory of its
// own, with the real program started in it from any thread (no chdir), and
// the checks that money was neither lost nor counted twice.
#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

struct Scene {
    std::string root;  // the exchange directory
    std::string work;  // the program's working directory, two below it
    std::string out;   // its standard output, outside the exchange directory
};

// <parent>/<name>/exchange/run/settle, made afresh.
Scene makeScene(const std::string& parent, const std::string& name);
std::string inScene(const Scene& scene, std::string_view file);

// Starts fare-settle in the scene, behind `prefix` (strace and its options)
// when given, with TERM unset and its standard output emptied first.
pid_t startIn(const Scene& scene, const std::vector<std::string>& prefix = {});
// Waits up to `seconds` for the process to end; kills it after that.
// True when it ended by itself.
bool endsWithin(pid_t pid, double seconds);
void stopIn(pid_t pid);

// The request answered: trigger 0, success 1, no journal left.
bool handedBack(const Scene& scene);
// Writes 1 into the trigger file, as a peer does, with the success file 0.
void requestIn(const Scene& scene);

// Money in a scene: what the ledgers hold and what is left to settle.
struct Money {
    long long total = 0, bus = 0, metro = 0;
    std::size_t lines = 0;  // ledger lines
    std::string fault;      // empty when the ledgers are whole and agree
};
// Sums every ledger line; a torn line or ledgers that disagree line by line
// are a fault.
Money ledgerMoney(const Scene& scene);
// The amounts and shares of the whole records left in Accumulated.txt.
Money moneyLeft(const Scene& scene);
// The shares of one record, by the fare table.
Money fare(std::string_view mode, long long amount);
