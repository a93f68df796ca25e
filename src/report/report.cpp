#include "report/report.h"

#include "Stop.h"
#include "exchange/exchange.h"
#include "text/text.h"

#include <cerrno>
#include <ctime>
#include <string_view>

namespace {

constexpr time_t reportPauseSeconds = 3;

void pause() {
    timespec left{reportPauseSeconds, 0};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

}  // namespace

void clearScreen() {
    // Whatever is buffered belongs on the screen before the clearing, so a
    // pipe or log file gets the bytes in the order a terminal shows them.
    flushConsole();
    runCommand("clear");
}

void showAccountSuccess(std::int64_t total, std::int64_t busShare, std::int64_t metroShare) {
    clearScreen();
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

void showUnopened(const char* path) {
    clearScreen();
    printLine(openFailed);
    printText(unopenedFileLabel);
    // An exchange file by its name alone, as peers and operators call it.
    std::string_view name = path;
    std::string_view exchange = exchangeDirPath;
    if (name.size() > exchange.size() && name.substr(0, exchange.size()) == exchange) name.remove_prefix(exchange.size());
    printLine(name);
    holdFailure();
}

void showReadFailure() {
    clearScreen();
    printLine(openFailedRecords);
    holdFailure();
}

void showIdle() {
    clearScreen();
    printText(idleText);
    flushConsole();
}

void showAnotherSettler() {
    clearScreen();
    printText(anotherSettlerText);
    flushConsole();
}
