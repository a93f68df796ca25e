// The settlement journal: what a settlement is in the middle of, kept in
// the working directory (never the exchange directory), so that whatever
// cuts a settlement short, a kill, a power cut or a failed write, it is
// finished or undone from here.
//
// It names everything it may touch by identities that survive a reboot:
// the exchange directory it belongs to, each ledger with its size before
// the settlement and the exact line appended to it, the settled bytes of
// Accumulated.txt and, once their removal has begun, that file. A journal
// of another exchange directory, of another version, or naming ledgers
// that are no longer those, touches nothing.
//
// Each phase replaces the last atomically: written aside, fsynced, renamed
// over the journal, the directory fsynced.
//   appending  written before the first ledger line. Undone by cutting
//              back each ledger that ends with exactly its line; the
//              request is still in force.
//   recorded   the ledger lines are on disk: the settlement is committed
//              and is only ever finished. The settled bytes are recognised
//              by their content, wherever they are.
//   removing   the settled bytes were found as read, in the file named;
//              their removal (a cut to zero, or a punch) may have begun
//              and is redone from the start, which is harmless.
//   punched    the settled bytes are a hole and blanks, on disk; what is
//              left is giving the space back by a collapse, which a power
//              cut can leave half done.
// It is removed once the hand-back is on disk.
#pragma once

#include "exchange/exchange.h"
#include "exchange/identity.h"

#include <cstddef>
#include <cstdint>

inline constexpr char journalPath[] = "fare-settle.journal";
inline constexpr char journalNewPath[] = "fare-settle.journal.new";

enum class JournalPhase : unsigned char { Appending, Recorded, Removing, Punched };
enum class RemovalWay : unsigned char { Cut, Punch };

// One ledger as the settlement found it, and the line it appends.
inline constexpr std::size_t ledgerLineRoom = 96;
struct JournalLedger {
    FileIdentity file;
    std::int64_t size;
    std::size_t lineLength;
    char line[ledgerLineRoom];
};

// Account.txt, BusAccount.txt and MetroAccount.txt, in that order.
inline constexpr const char* ledgerPaths[3] = {accountPath, busAccountPath, metroAccountPath};

struct Journal {
    JournalPhase phase;
    FileIdentity exchange;
    JournalLedger ledgers[3];
    SettledBytes settled;
    // Known from `removing` on: the file the removal works on and how;
    // from `punched` on, the file's size when the collapse was begun.
    FileIdentity records;
    RemovalWay way;
    std::int64_t collapseFrom;
};

bool writeJournal(const Journal& journal);
bool removeJournal();

enum class JournalFound : unsigned char {
    None,     // no journal
    Ours,     // read whole
    Unknown,  // there, but torn, of another version, or not a journal
};
JournalFound readJournal(Journal& journal);
