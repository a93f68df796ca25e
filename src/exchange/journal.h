// The settlement journal: what a settlement is in the middle of, kept in
// the working directory (never the exchange directory), so that a process
// killed at any moment is finished or undone when it starts again.
//
// It is written, and synced, before the first ledger line: "appending",
// with every ledger's size before the settlement; once the ledger lines are
// on disk it is replaced, atomically by rename, with "recorded". It is
// removed when the hand-back is done. On start:
//   appending  the ledgers are cut back to their sizes; the request is still
//              in force, so the same records are settled again;
//   recorded   the ledgers are complete: only the hand-back is finished,
//              removing the settled bytes if they are still there.
#pragma once

#include <cstdint>
#include <sys/types.h>

inline constexpr char journalPath[] = "fare-settle.journal";
inline constexpr char journalNewPath[] = "fare-settle.journal.new";

struct Journal {
    bool recorded;
    std::int64_t accountSize;
    std::int64_t busSize;
    std::int64_t metroSize;
    std::int64_t bytes;  // of Accumulated.txt being settled
    std::uint64_t device;
    std::uint64_t inode;
    std::uint64_t signature;  // of those bytes, see settledSignature
};

bool writeJournal(const Journal& journal);
bool removeJournal();
// False when there is no journal, or none that can be read.
bool readJournal(Journal& journal);

// A fingerprint of the settled bytes: a hash of their first and last 4 KiB.
// Peers only append, so the same bytes at the front of the file mean the
// settled records are still there.
bool settledSignature(int fd, std::int64_t bytes, std::uint64_t& signature);

// Takes, exclusively, the lock that cooperating appenders share while they
// write, waiting a moment for them; false when the caller goes on without.
bool lockAppenders(int fd);

// Removes the first `bytes` bytes of Accumulated.txt open on `fd`, keeping
// whatever was appended after them; false on a failed write.
bool removeSettled(int fd, std::int64_t bytes, off_t size);

// Finishes or undoes a settlement that a killed process left half done.
void recoverSettlement();
