// The settlement journal: what a settlement is in the middle of, kept in
// the working directory (never the exchange directory), so that whatever
// cuts a settlement short, a kill, a power cut or a failed write, it is
// finished or undone from here.
//
// Each phase replaces the last atomically: written aside, fsynced, renamed
// over the journal, the directory fsynced.
//   appending  written before the first ledger line: the ledgers' sizes
//              before it and the settled bytes. Undone by cutting the
//              ledgers back; the request is still in force.
//   recorded   the ledger lines are on disk: the settlement is committed
//              and is only ever finished.
//   marked     the mark is on disk at the front of the settled bytes, so
//              a front without it means they are already removed.
// It is removed once the hand-back is on disk.
#pragma once

#include "exchange/exchange.h"

#include <cstdint>

inline constexpr char journalPath[] = "fare-settle.journal";
inline constexpr char journalNewPath[] = "fare-settle.journal.new";

enum class JournalPhase : unsigned char { Appending, Recorded, Marked };

struct Journal {
    JournalPhase phase;
    std::int64_t accountSize;
    std::int64_t busSize;
    std::int64_t metroSize;
    SettledBytes settled;
};

bool writeJournal(const Journal& journal);
bool removeJournal();
// False when there is no journal, or none that can be read.
bool readJournal(Journal& journal);
// Whether a journal can be written here at all: a settlement that could not
// write one must not begin.
bool journalWritable();
