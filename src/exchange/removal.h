// Removing the settled bytes from the front of Accumulated.txt, once the
// settlement is recorded, so that exactly the records appended since are
// left, in order, whatever a kill or a power cut interrupts.
#pragma once

#include "exchange/journal.h"

// Finds the settled bytes and removes them, moving the journal on as it
// goes; safe to repeat from any point the journal and a power cut can
// leave. True once they are gone, or found changed (said on the screen)
// and left alone; false on a failure, to be retried.
bool Reset(Journal& journal);
