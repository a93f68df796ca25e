// The request files: the trigger flag and the date.
#include "exchange/exchange.h"
#include "exchange/io.h"
#include "exchange/scan.h"
#include "text/text.h"

#include <fcntl.h>

namespace {

// Both files are tiny; a block this size reads them in one call, and a
// file that is not tiny is still read only as far as its first token.
constexpr std::size_t requestBlock = 4096;

}  // namespace

void getTrigger(std::int64_t& trigger) {
    int fd = openFile(triggerPath, O_RDONLY);
    if (fd < 0) {
        printLine(openFailedRequest);
        return;
    }
    // White space of any length, one optional sign, then digits up to the
    // first byte that is not one. Values past the 64-bit range saturate, so
    // no long number can wrap around to 1.
    NumberScan number{0, false};
    bool sign = false;
    bool digits = false;
    bool ended = false;
    char buffer[requestBlock];
    ssize_t n;
    while (!ended && (n = readSome(fd, buffer, sizeof buffer)) > 0) {
        for (ssize_t i = 0; i < n; ++i) {
            auto c = static_cast<unsigned char>(buffer[i]);
            if (isDigit(c)) {
                addDigit(number, c);
                digits = true;
                continue;
            }
            if (!sign && !digits) {
                if (isBlank(c)) continue;
                if (c == '+' || c == '-') {
                    sign = true;
                    number.negative = c == '-';
                    continue;
                }
            }
            ended = true;
            break;
        }
    }
    // A read error ends the file early: what was read before it counts.
    closeFile(fd);
    if (digits) trigger = numberValue(number);
}

void getDate(char (&date)[9]) {
    char token[8] = {};
    std::size_t length = 0;
    int fd = openFile(timePath, O_RDONLY);
    if (fd < 0) {
        printLine(openFailedRequest);
    } else {
        bool ended = false;
        char buffer[requestBlock];
        ssize_t n;
        while (!ended && (n = readSome(fd, buffer, sizeof buffer)) > 0) {
            for (ssize_t i = 0; i < n; ++i) {
                auto c = static_cast<unsigned char>(buffer[i]);
                if (isBlank(c)) {
                    if (length > 0) {
                        ended = true;
                        break;
                    }
                    continue;
                }
                token[length++] = static_cast<char>(c);
                if (length == sizeof token) {
                    ended = true;
                    break;
                }
            }
        }
        closeFile(fd);
    }
    // The ninth byte stays 0, so the date is always a terminated text.
    for (std::size_t i = 0; i < sizeof token; ++i) date[i] = token[i];
}
