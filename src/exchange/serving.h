// One settlement program per exchange directory. The one that serves it
// holds flock(LOCK_EX) on a descriptor of the directory itself: the kernel
// lets go when the process ends, however it ends (kill -9 included), and
// nothing is added to the directory for the peers to see. Two programs
// started from different working directories would otherwise each keep a
// journal of their own and settle every request twice.
#pragma once

// Holds the exchange directory, taking it when it is free; `lock` is the
// descriptor, -1 while none is held. False while another process serves
// it. Looked at every cycle, so a directory replaced under a running
// program is served anew, and a second program takes over when the first
// ends. Where directories cannot be locked at all, it serves unguarded.
bool serveExchange(int& lock);

enum class Serving : unsigned char { Served, Free, Unknown };
// Whether a settlement program serves `dir` now, without taking it from
// one that is about to.
Serving exchangeServed(const char* dir);
