#include "text/text.h"

#include <cinttypes>
#include <cstdio>

// Console writes are not checked: a vanished terminal is reported to us by
// SIGHUP or SIGPIPE, and there is nowhere else to say that the console failed.
void printText(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
}

void printLine(std::string_view text) {
    printText(text);
    std::fputc('\n', stdout);
}

void printSum(std::string_view label, std::int64_t value) {
    printText(label);
    std::printf("%" PRId64 " \n", value);
}

void flushConsole() { std::fflush(stdout); }
