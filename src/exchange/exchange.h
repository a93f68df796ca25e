// The exchange directory, two levels above the working directory, and every
// file this program shares in it with the peer processes.
//
// Who writes what:
//   Time.txt            peers write the date; we only read its first token.
//   AccountTrigger.txt  peers write 1 to ask for a settlement; we write "0"
//                       once the settlement is recorded.
//   Accumulated.txt     peers append fare records, five tokens each; each
//                       record should go out in one write(2) on an O_APPEND
//                       descriptor, under flock(LOCK_SH) if they cooperate.
//                       We read it only to settle, the end of that read
//                       under flock(LOCK_EX) so no append is half read, and
//                       later remove exactly the bytes that were read.
//   Account.txt, BusAccount.txt, MetroAccount.txt
//                       only we write: one line per settlement, appended.
//   AccountSuccess.txt  we write "1" after the records are removed; peers
//                       set it back.
//   fare-settle.journal in the working directory, never the exchange
//                       directory: ours alone.
//
// A settlement goes, in this order:
//   0. the exchange directory is held (flock on the directory itself), so
//      that no second settlement program, from any working directory,
//      reads or writes anything here;
//   1. before the report: open the three ledgers, reserve the room for
//      each one's line (the size stays), open Accumulated.txt; any failure:
//      no report, nothing is written and the request stays;
//   2. still before the report, journal "appending": the exchange
//      directory, each ledger's identity, size and exact line, and the
//      settled bytes' fingerprint; then the report and its pause;
//   3. one line to each ledger, each in one write(2); fsync the ledgers and
//      the exchange directory (a ledger may have just been created);
//   4. journal "recorded": from here the settlement is committed and only
//      goes forward; a failure before it cuts back exactly its own lines;
//   5. Reset, under flock(LOCK_EX): the settled bytes found by content,
//      journal "removing"; cut to zero when nothing follows them, else the
//      whole blocks punched out and the rest blanked, fsync, journal
//      "punched", then the punched blocks collapsed away; fsync;
//   6. FinishSignal: "0" into the trigger file, "1" into the success file,
//      each fsynced, and the exchange directory fsynced;
//   7. the journal is removed.
// Steps 5 to 7 are one routine that the live cycle and a restart share.
//
// Only regular files are read or written, and no open blocks: a FIFO,
// device, socket or directory in a file's place cannot be opened.
//
// What is atomic: each ledger line (one O_APPEND write); a peer's record
// (one O_APPEND write); every journal (written aside, fsynced, renamed);
// a cut to zero. A collapse is atomic towards appenders but not towards a
// power cut, so it only ever runs over a hole: whatever part of it a cut
// leaves undone reads, hole skipped, as the same records in order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sys/types.h>
#include <vector>

// Every path is the exchange directory, "../../", and a file name.
inline constexpr char exchangeDirPath[] = "../../";
inline constexpr char timePath[] = "../../Time.txt";
inline constexpr char triggerPath[] = "../../AccountTrigger.txt";
inline constexpr char accumulatedPath[] = "../../Accumulated.txt";
inline constexpr char accountPath[] = "../../Account.txt";
inline constexpr char busAccountPath[] = "../../BusAccount.txt";
inline constexpr char metroAccountPath[] = "../../MetroAccount.txt";
inline constexpr char successPath[] = "../../AccountSuccess.txt";

// The file name alone, for a peer that names the exchange directory itself.
constexpr const char* fileNameOf(const char* path) { return path + (sizeof exchangeDirPath - 1); }

// One fare record: five whitespace-separated tokens of Accumulated.txt. Text
// fields longer than their room are cut; the rest of the token is skipped.
// `mode` keeps the first six bytes of its token, zero-padded, so that only a
// token that is exactly "BUS" or "METRO" compares equal to one: a longer
// token like "METROX" keeps its sixth byte, and a token with a NUL byte
// anywhere gets a sixth byte of 1. Its text, as far as anyone prints it, is
// the first five bytes.
//
// The fields in the order they are read, each by the name it goes by, the
// longest token it holds whole and the bytes of a token it keeps; the
// amount is a number, not a text.
struct FareField {
    const char* name;
    std::size_t whole;
    std::size_t kept;
};
inline constexpr FareField fareFields[5] = {
    {"token1", 12, 12}, {"mode", 5, 6}, {"token3", 4, 4}, {"amount", SIZE_MAX, 0}, {"token5", 7, 7}};
inline constexpr std::size_t amountField = 3;
// The two carriers a mode can name.
inline constexpr char busCarrier[] = "BUS";
inline constexpr char metroCarrier[] = "METRO";

struct FareRecord {
    char token1[fareFields[0].kept + 1];
    char mode[fareFields[1].kept];
    char token3[fareFields[2].kept + 1];
    std::int64_t amount;
    char token5[fareFields[4].kept + 1];
};

// The bytes of Accumulated.txt that one settlement read: its first `bytes`
// bytes (holes included), recognised later by their content alone, so that
// the same bytes are found again whatever the file's inode or device is now.
// Peers only ever append, so the same first bytes and the same hash of the
// last ones mean the settled records are still where they were read.
inline constexpr std::size_t settledHeadRoom = 64;
struct SettledBytes {
    std::int64_t bytes;
    std::uint64_t tailHash;       // of bytes [max(64, bytes - 4096), bytes)
    char head[settledHeadRoom];  // the first min(bytes, 64) bytes, as they are
};

