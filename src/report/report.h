// The console screens: clearing, the settlement report and its pause.
#pragma once

#include <cstdint>

// Runs "clear", once whatever was printed before has reached the console.
void clearScreen();

// Clears the screen, shows the three sums and holds them for three seconds.
// The pause is never cut short: stop signals stay blocked during it.
void showAccountSuccess(std::int64_t total, std::int64_t busShare, std::int64_t metroShare);

// Holds whatever failure lines were printed on the screen for the report's
// pause, so that a settlement that cannot go on is retried every three
// seconds instead of as fast as the cycle runs.
void holdFailure();

// Shown instead of the report when a file the settlement must write cannot
// be opened or written: the failure line and the file's name, held for the
// report's pause; nothing is settled.
void showUnopened(const char* path);

// Shown instead of the report when the records could not be read whole:
// nothing is settled, and the request stays for the next cycle.
void showReadFailure();

// The idle screen: cleared and shown again every cycle, no line end.
void showIdle();

// The screen of a program that finds another serving the exchange
// directory: cleared and shown again every cycle, like the idle screen.
void showAnotherSettler();
