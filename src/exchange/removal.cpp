// Why the removal is built this way: a collapse of a range
// (FALLOC_FL_COLLAPSE_RANGE) is atomic towards appenders but not towards a
// power cut; ext4 and xfs split it over several journal transactions, and
// a cut can leave the range half removed, or removed with nothing shifted
// yet, the size unchanged. So the settled bytes are first made absent at
// offsets that never move: the whole blocks among them punched out (a
// hole, which every reader here skips) and the rest, less than a block,
// overwritten with blanks. Both are idempotent, and the journal says when
// they are on disk. Only then does a collapse give the space back; any
// part of it that a cut leaves undone leaves a hole between survivors,
// which reads as nothing, and the next removal takes it along. The one
// state that needs mending is a shift finished without its new size
// (xfs sets the size in a transaction of its own): the moved last block's
// NUL padding then lies before the hole, and becomes blanks.
#include "exchange/removal.h"

#include "exchange/appenders.h"
#include "exchange/fingerprint.h"
#include "exchange/io.h"
#include "text/text.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::size_t blankBlock = 65536;

bool blankRange(int fd, std::int64_t from, std::int64_t to) {
    char blanks[blankBlock];
    std::memset(blanks, ' ', sizeof blanks);
    while (from < to) {
        auto n = static_cast<std::size_t>(std::min<std::int64_t>(to - from, blankBlock));
        if (!writeAllAt(fd, blanks, n, from)) return false;
        from += static_cast<std::int64_t>(n);
    }
    return true;
}

std::int64_t blockOf(const struct stat& st) { return st.st_blksize > 0 ? st.st_blksize : 4096; }

// The settled bytes that are whole blocks, from the front.
std::int64_t wholeBlocks(const Journal& journal, const struct stat& st) {
    return journal.settled.bytes / blockOf(st) * blockOf(st);
}

// 1 when [from, to) holds any data, 0 when it is all hole, -1 on error.
int holdsData(int fd, std::int64_t from, std::int64_t to) {
    off_t data = ::lseek(fd, from, SEEK_DATA);
    if (data < 0) return errno == ENXIO ? 0 : errno == EINVAL || errno == EOPNOTSUPP ? 1 : -1;
    return data < to ? 1 : 0;
}

// Blanks behind the whole blocks, then the blocks punched out; where holes
// cannot be made, blanks throughout.
bool punchSettled(int fd, const Journal& journal, const struct stat& st) {
    std::int64_t whole = wholeBlocks(journal, st);
    if (!blankRange(fd, whole, journal.settled.bytes)) return false;
    if (whole > 0 && ::fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, 0, whole) != 0) {
        if (errno != EOPNOTSUPP || !blankRange(fd, 0, whole)) return false;
    }
    return syncFile(fd);
}

// Whether [from, to) is data of NUL bytes only, or a hole.
bool zerosOrHole(int fd, std::int64_t from, std::int64_t to) {
    char bytes[65536];
    auto size = static_cast<std::size_t>(to - from);
    if (size > sizeof bytes) return false;
    if (holdsData(fd, from, to) == 0) return true;
    return readAllAt(fd, bytes, size, from) && std::all_of(bytes, bytes + size, [](char c) { return c == '\0'; });
}

// After a shift that ended without its new size (xfs sets it in a
// transaction of its own), the records' last block, moved down, still has
// the zeros behind their end, then comes a hole up to the old end of file,
// and whatever peers append lands there, behind the zeros of its block.
// Both runs of zeros are the removal's own, and become blanks; the hole
// reads as nothing. Found by their place, so that no record is touched.
bool mendShift(int fd, const Journal& journal, const struct stat& st) {
    std::int64_t block = blockOf(st);
    std::int64_t oldEnd = journal.collapseFrom;
    std::int64_t end = oldEnd - wholeBlocks(journal, st);
    std::int64_t padEnd = (end + block - 1) / block * block;
    std::int64_t tailBlock = oldEnd / block * block;
    if (end <= 0 || end == padEnd || st.st_size < oldEnd) return true;
    if (::lseek(fd, end, SEEK_DATA) != end || ::lseek(fd, end, SEEK_HOLE) != padEnd) return true;
    if (padEnd < tailBlock && holdsData(fd, padEnd, tailBlock) != 0) return true;
    if (!zerosOrHole(fd, end, padEnd) || !zerosOrHole(fd, tailBlock, oldEnd)) return true;
    return blankRange(fd, end, padEnd) && blankRange(fd, tailBlock, oldEnd) && syncFile(fd);
}

// The punched blocks given back by a collapse, unless one has begun: data
// in front of them means the survivors have started to move.
bool collapseSettled(int fd, Journal& journal) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return false;
    std::int64_t whole = wholeBlocks(journal, st);
    if (whole == 0) return true;
    int moved = holdsData(fd, 0, whole);
    if (moved < 0) return false;
    if (moved > 0) return mendShift(fd, journal, st);
    // The range may not reach the end of the file: with nothing after it,
    // the hole stays, and costs nothing.
    if (st.st_size <= whole) return true;
    if (journal.collapseFrom != st.st_size) {
        journal.collapseFrom = st.st_size;
        if (!writeJournal(journal)) return false;
    }
    if (::fallocate(fd, FALLOC_FL_COLLAPSE_RANGE, 0, whole) != 0 && errno != EOPNOTSUPP && errno != EINVAL)
        return false;
    return syncFile(fd);
}

// Before the first destructive step, and on a file that is not the one
// the removal began on, only the bytes themselves say whether the settled
// records are there. Found, the journal learns which file and how.
enum class Found : unsigned char { Here, Changed, Failed };
Found findSettled(int fd, Journal& journal, bool locked, const FileIdentity& file, const struct stat& st) {
    switch (matchSettled(fd, journal.settled)) {
    case SettledMatch::Unreadable:
        return Found::Failed;
    case SettledMatch::Differs:
        return Found::Changed;
    case SettledMatch::Same:
        break;
    }
    // A cut to zero is only safe while no cooperating appender can write,
    // and only when nothing follows the settled bytes.
    RemovalWay way = locked && st.st_size == journal.settled.bytes ? RemovalWay::Cut : RemovalWay::Punch;
    if (journal.phase == JournalPhase::Removing && sameFile(file, journal.records) && way == journal.way)
        return Found::Here;
    journal.phase = JournalPhase::Removing;
    journal.records = file;
    journal.way = way;
    journal.collapseFrom = -1;
    return writeJournal(journal) ? Found::Here : Found::Failed;
}

bool removeSettled(int fd, Journal& journal, bool locked) {
    FileIdentity file{};
    struct stat st {};
    if (!identityOf(fd, file) || ::fstat(fd, &st) != 0) return false;
    bool here = journal.phase != JournalPhase::Recorded && sameFile(file, journal.records);
    if (here && journal.phase == JournalPhase::Removing && journal.way == RemovalWay::Cut) {
        // A cut to zero happens whole or not at all: a shorter file was
        // cut, and a longer one that no longer begins with the settled
        // bytes holds only records appended after the cut.
        if (st.st_size < journal.settled.bytes) return true;
        here = false;
        Found found = findSettled(fd, journal, locked, file, st);
        if (found != Found::Here) return found == Found::Changed;
    } else if (!here) {
        Found found = findSettled(fd, journal, locked, file, st);
        if (found == Found::Failed) return false;
        if (found == Found::Changed) {
            printLine(settledChangedText);
            return true;
        }
    }
    if (journal.phase == JournalPhase::Removing) {
        if (journal.way == RemovalWay::Cut) return ::ftruncate(fd, 0) == 0 && syncFile(fd);
        if (st.st_size < journal.settled.bytes) {
            // A punch never shortens the file: someone else cut it.
            printLine(settledChangedText);
            return true;
        }
        if (!punchSettled(fd, journal, st) || ::fstat(fd, &st) != 0) return false;
        journal.phase = JournalPhase::Punched;
        journal.collapseFrom = st.st_size;
        if (!writeJournal(journal)) return false;
    }
    return collapseSettled(fd, journal);
}

}  // namespace

bool Reset(Journal& journal) {
    if (journal.settled.bytes <= 0) return true;
    int fd = openFile(accumulatedPath, O_RDWR);
    if (fd < 0) {
        if (errno != ENOENT) return false;
        printLine(settledChangedText);
        return true;
    }
    bool locked = lockAppenders(fd);
    bool done = removeSettled(fd, journal, locked);
    if (locked) unlockAppenders(fd);
    return closeFile(fd) && done;
}
