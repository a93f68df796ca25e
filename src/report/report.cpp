#include "report/report.h"

#include "Stop.h"
#include "text/text.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>

namespace {

constexpr time_t reportPauseSeconds = 3;

void pause() {
    timespec left{reportPauseSeconds, 0};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

}  // namespace

void clearScreen(int& stop) {
    if (stop == 0) stop = takeStopSignal();
    // Whatever is buffered belongs on the screen before the clearing, so a
    // pipe or log file gets the bytes in the order a terminal shows them.
    flushConsole();
    // The screen is only cosmetic: whether "clear" worked changes nothing.
    [[maybe_unused]] int status = std::system("clear");
}

void showAccountSuccess(std::int64_t total, std::int64_t busShare, std::int64_t metroShare,
                        int& stop) {
    clearScreen(stop);
    printLine(settledText);
    printSum(totalLabel, total);
    printSum(busLabel, busShare);
    printSum(metroLabel, metroShare);
    flushConsole();
    pause();
}

void holdFailure() {
    flushConsole();
    pause();
}

void showJournalFailure(int& stop) {
    clearScreen(stop);
    printLine(openFailed);
    printLine(journalFailedText);
    holdFailure();
}
