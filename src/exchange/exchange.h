// The exchange directory, two levels above the working directory, and every
// file this program shares in it with the peer processes.
//
// Who writes what, and in which order:
//   Time.txt            peers write the date; we only read its first token.
//   AccountTrigger.txt  peers write 1 to ask for a settlement; we write "0"
//                       once the settlement is recorded.
//   Accumulated.txt     peers append fare records, five tokens each; each
//                       record should go out in one write(2) on an O_APPEND
//                       descriptor, under flock(LOCK_SH) if they cooperate.
//                       We read it only to settle, once, the end of that
//                       read under flock(LOCK_EX) so no append is half read,
//                       and then remove exactly the bytes that were read.
//   Account.txt, BusAccount.txt, MetroAccount.txt
//                       only we write: one line per settlement, appended.
//   AccountSuccess.txt  we write "1" last; peers set it back.
//
// A settlement goes: open all three ledgers and Accumulated.txt (any failure:
// nothing is written, the request stays), write the journal in the working
// directory, append one line to each ledger with one write(2) apiece, fsync
// them, mark the journal recorded, remove the settled bytes from
// Accumulated.txt, and only then rewrite the trigger and success files and
// drop the journal. A failed write or fsync cuts every ledger back to its
// size before the settlement, so a ledger never holds half of one; a kill
// is undone or finished from the journal at the next start.
//
// What is atomic: each ledger line (one O_APPEND write); a peer's record
// (one O_APPEND write); cutting Accumulated.txt to zero, which is done under
// flock(LOCK_EX) and only when its size still equals what was read. Bytes
// appended after the read are kept: the settled prefix is overwritten with
// blanks, which every reader skips, and where the file system can, removed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/types.h>
#include <vector>

// Every path is the exchange directory, "../../", and a file name; a peer
// that names the directory itself takes the file name alone.
inline constexpr std::size_t exchangePrefix = 6;
inline constexpr char timePath[] = "../../Time.txt";
inline constexpr char triggerPath[] = "../../AccountTrigger.txt";
inline constexpr char accumulatedPath[] = "../../Accumulated.txt";
inline constexpr char accountPath[] = "../../Account.txt";
inline constexpr char busAccountPath[] = "../../BusAccount.txt";
inline constexpr char metroAccountPath[] = "../../MetroAccount.txt";
inline constexpr char successPath[] = "../../AccountSuccess.txt";

// One fare record: five whitespace-separated tokens of Accumulated.txt. Text
// fields longer than their room are cut; the rest of the token is skipped.
// `mode` keeps the first six bytes of its token, zero-padded, so that only a
// token that is exactly "BUS" or "METRO" compares equal to one: a longer
// token like "METROX" keeps its sixth byte and a token with a NUL in it keeps
// the bytes after the NUL. Its text, as far as anyone prints it, is the
// first five bytes.
struct FareRecord {
    char token1[13];
    char mode[6];
    char token3[5];
    std::int64_t amount;
    char token5[8];
};

// Accumulated.txt as one cycle sees it: opened once at the start of the
// cycle, read (only when settling) through that same descriptor, and
// remembered by size and identity, so that a settlement removes exactly the
// bytes it read and no others.
struct AccumulatedSnapshot {
    int fd;  // -1 once closed, or when the file could not be opened
    bool opened;
    std::int64_t bytes;
    dev_t device;
    ino_t inode;
};

// The descriptors of one settlement's files, held open from the moment all
// of them could be opened until the settlement is recorded or undone.
struct SettlementFiles {
    int account;
    int bus;
    int metro;
    int accumulated;
    off_t accountSize;
    off_t busSize;
    off_t metroSize;
    std::int64_t settled;  // bytes of Accumulated.txt being settled
    std::uint64_t device;
    std::uint64_t inode;
    std::uint64_t signature;
    bool ok;         // false once anything failed: nothing more is written
    bool journaled;  // a journal is on disk for this settlement
};

// Request files.
void getTrigger(std::int64_t& trigger);
void getDate(char (&date)[9]);

// Accumulated fare file. dataCount opens it for the cycle; AccumulatedRead
// reads it once, only when a settlement is due, and gives the count, the
// total and the two shares from that one read; an idle cycle only closes it.
// The records pass through `records` a block at a time, so memory stays
// flat whatever the size of the file.
void dataCount(std::int64_t& recordCount, AccumulatedSnapshot& snapshot);
void AccumulatedRead(std::vector<FareRecord>& records, std::int64_t& total,
                     std::int64_t& busShare, std::int64_t& metroShare,
                     std::int64_t& recordCount, AccumulatedSnapshot& snapshot, bool settling);

// Records a settlement: every step below, in order.
void recordSettlement(const char (&date)[9], std::int64_t busShare, std::int64_t metroShare,
                      std::int64_t total, const AccumulatedSnapshot& snapshot);

// Ledgers and hand-back, in the order recordSettlement calls them.
void openSettlement(SettlementFiles& files);
void beginJournal(SettlementFiles& files, const AccumulatedSnapshot& snapshot);
void AccumulateRestore(SettlementFiles& files, const char (&date)[9], std::int64_t busShare,
                       std::int64_t metroShare, std::int64_t total);
void BusSend(SettlementFiles& files, std::int64_t busShare, const char (&date)[9]);
void MetroSend(SettlementFiles& files, std::int64_t metroShare, const char (&date)[9]);
void commitLedgers(SettlementFiles& files);
void Reset(SettlementFiles& files, const AccumulatedSnapshot& snapshot);
void closeSettlement(SettlementFiles& files);
void FinishSignal(const SettlementFiles& files);
void endJournal(SettlementFiles& files);
