// Ending the program on request without tearing a settlement apart.
//
// SIGINT, SIGTERM and SIGHUP are blocked for the life of the process and
// looked for only at the top of a cycle, where stopping is safe. A signal
// that arrives while "clear" runs, or during the report's pause, stays
// pending until the loop comes back for it: it is never ignored, so never
// lost.
#pragma once

void blockStopSignals();
// The signal that asked the program to stop, or 0.
int takeStopSignal();
// Ends the process the way the signal would have, had it not been blocked.
[[noreturn]] void endBySignal(int signal);
// Runs `command` through /bin/sh and waits for it; the child has the stop
// signals at their defaults and unblocked, this process keeps them blocked.
void runCommand(const char* command);
