// Ending the program on request without tearing a settlement apart.
//
// SIGINT, SIGTERM and SIGHUP are blocked for the life of the process and
// looked for only at the top of a cycle, where stopping is safe. Blocking
// is also what makes Ctrl-C work at all: the idle loop spends nearly all its
// time inside system(), which ignores SIGINT in the caller, but a blocked
// signal stays pending until the loop comes back for it.
#pragma once

void blockStopSignals();
// The signal that asked the program to stop, or 0.
int takeStopSignal();
// Ends the process the way the signal would have, had it not been blocked.
[[noreturn]] void endBySignal(int signal);
// Runs `command` through the shell with system(), and waits for it. A stop
// signal already pending when it starts would be discarded by system(),
// which sets SIGINT to be ignored; it is taken out first and put back after.
void runCommand(const char* command);
