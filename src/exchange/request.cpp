// The request files: the trigger flag and the date.
#include "exchange/exchange.h"
#include "exchange/io.h"
#include "exchange/request.h"
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
    TriggerScan scan{};
    char buffer[requestBlock];
    ssize_t n;
    while (!scan.ended && (n = readSome(fd, buffer, sizeof buffer)) > 0)
        scanTrigger(scan, buffer, static_cast<std::size_t>(n));
    // A read error ends the file early: what was read before it counts.
    closeFile(fd);
    triggerValue(scan, trigger);
}

void getDate(char (&date)[9]) {
    DateScan scan{};
    int fd = openFile(timePath, O_RDONLY);
    if (fd < 0) {
        printLine(openFailedRequest);
    } else {
        char buffer[requestBlock];
        ssize_t n;
        while (!scan.ended && (n = readSome(fd, buffer, sizeof buffer)) > 0)
            scanDate(scan, buffer, static_cast<std::size_t>(n));
        closeFile(fd);
    }
    // The ninth byte stays 0, so the date is always a terminated text.
    for (std::size_t i = 0; i < sizeof scan.token; ++i) date[i] = scan.token[i];
}
