// The appenders' lock on Accumulated.txt: cooperating peers hold it shared
// while they write a record; the settlement takes it exclusively for its
// last read and for the removal, so that no record is half read or lost.
#pragma once

// Takes the lock exclusively, waiting up to a second for the appenders;
// false when the caller goes on without it.
bool lockAppenders(int fd);
void unlockAppenders(int fd);
