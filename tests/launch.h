// Starting the real fare-settle for a test or the benchmark.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// Starts fare-settle in `work`, behind `prefix` (strace and its options)
// when given, with standard output and error emptied into `out` and `err`
// first, no stop signal blocked, TERM set to `term` or unset, and a process
// group of its own so that a stop reaches the program behind strace too.
pid_t launchSettle(const std::string& work, const std::string& out, const std::string& err,
                   const char* term = nullptr, const std::vector<std::string>& prefix = {});
