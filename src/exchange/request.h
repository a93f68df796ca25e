// The request files: the trigger flag and the date, read once a cycle.
#pragma once

#include <cstdint>

// The number at the start of AccountTrigger.txt; a file that cannot be
// read, or begins with no number, leaves `trigger` as it was.
void getTrigger(std::int64_t& trigger);
// The first 8 bytes of the first token of Time.txt; empty when there is
// none.
void getDate(char (&date)[9]);
