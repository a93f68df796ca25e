// Recording a settlement and handing the request back, exactly once. Every
// file must open before anything is written; the journal says what is
// being done before the first ledger line; the ledger lines are on disk
// before the journal says the settlement is recorded; from then on it is
// only ever finished, by the same routine whether the live cycle or a
// restart gets there: the settled bytes leave Accumulated.txt, the trigger
// and success files are rewritten and synced, and the journal goes.
#include "exchange/accumulated.h"
#include "exchange/exchange.h"
#include "exchange/io.h"
#include "exchange/journal.h"
#include "text/text.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The descriptors of one settlement's files, held open from the moment all
// of them could be opened until the ledger lines are on disk.
struct SettlementFiles {
    int account;
    int bus;
    int metro;
    int accumulated;
    bool ok;  // false once anything failed: nothing more is written
};

int openReported(const char* path, int flags, SettlementFiles& files) {
    int fd = openFile(path, flags);
    if (fd < 0) {
        printLine(openFailed);
        files.ok = false;
    }
    return fd;
}

std::int64_t sizeOf(int fd) {
    struct stat st {};
    return fd >= 0 && ::fstat(fd, &st) == 0 ? st.st_size : -1;
}

void openSettlement(SettlementFiles& files) {
    files = SettlementFiles{-1, -1, -1, -1, true};
    files.account = openReported(accountPath, O_WRONLY | O_APPEND | O_CREAT, files);
    files.bus = openReported(busAccountPath, O_WRONLY | O_APPEND | O_CREAT, files);
    files.metro = openReported(metroAccountPath, O_WRONLY | O_APPEND | O_CREAT, files);
    // Opened only so that a record file that cannot be written stops the
    // settlement before anything is written, and exists for the peers.
    files.accumulated = openReported(accumulatedPath, O_RDWR | O_CREAT, files);
}

void closeSettlement(SettlementFiles& files) {
    // The ledgers were synced before anything depended on them; a close
    // that fails now is worth a line but loses nothing.
    for (int fd : {files.account, files.bus, files.metro, files.accumulated}) {
        if (fd >= 0 && !closeFile(fd) && files.ok) printLine(openFailed);
    }
    files.account = files.bus = files.metro = files.accumulated = -1;
}

void appendLine(SettlementFiles& files, int fd, const char* line, int length) {
    if (!files.ok) return;
    if (length < 0 || !writeAll(fd, line, static_cast<std::size_t>(length))) {
        printLine(openFailed);
        files.ok = false;
    }
}

void AccumulateRestore(SettlementFiles& files, const char (&date)[9], std::int64_t busShare,
                       std::int64_t metroShare, std::int64_t total) {
    char line[96];
    int length = std::snprintf(line, sizeof line, "%s\t%" PRId64 "\t%" PRId64 "\t%" PRId64 "\n",
                               date, busShare, metroShare, total);
    appendLine(files, files.account, line, length);
}

void BusSend(SettlementFiles& files, std::int64_t busShare, const char (&date)[9]) {
    char line[48];
    int length = std::snprintf(line, sizeof line, "%s\t%" PRId64 "\n", date, busShare);
    appendLine(files, files.bus, line, length);
}

void MetroSend(SettlementFiles& files, std::int64_t metroShare, const char (&date)[9]) {
    char line[48];
    int length = std::snprintf(line, sizeof line, "%s\t%" PRId64 "\n", date, metroShare);
    appendLine(files, files.metro, line, length);
}

// The ledger lines, and a ledger or record file this settlement created,
// on disk before the journal may say so.
void syncLedgers(SettlementFiles& files) {
    if (!files.ok) return;
    if (!syncFile(files.account) || !syncFile(files.bus) || !syncFile(files.metro) ||
        !syncDirectory(exchangeDirPath)) {
        printLine(openFailed);
        files.ok = false;
    }
}

// A ledger cut back to its size before the settlement. One that is gone,
// or is a device that never kept a byte, has nothing to undo.
bool cutBack(const char* path, std::int64_t size) {
    int fd = openFile(path, O_WRONLY);
    if (fd < 0) return errno == ENOENT;
    bool ok = true;
    if (sizeOf(fd) > size) ok = ::ftruncate(fd, size) == 0 && syncFile(fd);
    return closeFile(fd) && ok;
}

bool undoSettlement(const Journal& journal) {
    bool cut = cutBack(accountPath, journal.accountSize);
    cut = cutBack(busAccountPath, journal.busSize) && cut;
    cut = cutBack(metroAccountPath, journal.metroSize) && cut;
    return cut && removeJournal();
}

// Step 5: the settled bytes leave Accumulated.txt. Safe to repeat from any
// point: the mark, and the journal's knowledge of it, say how far it got.
bool removeSettledBytes(Journal& journal) {
    if (journal.settled.bytes <= 0) return true;
    int fd = openFile(accumulatedPath, O_RDWR);
    if (fd < 0) {
        if (errno != ENOENT) return false;
        printLine(settledChangedText);
        return true;
    }
    bool locked = lockAppenders(fd);
    bool ok = true;
    std::int64_t written = 0;
    switch (findSettled(fd, journal.settled, journal.phase == JournalPhase::Marked)) {
    case SettledPlace::Changed:
        // Replaced or rewritten by a peer: what is there was never settled.
        printLine(settledChangedText);
        break;
    case SettledPlace::Untouched:
        ok = markSettled(fd, journal.settled);
        [[fallthrough]];
    case SettledPlace::Marked:
        if (ok && journal.phase != JournalPhase::Marked) {
            journal.phase = JournalPhase::Marked;
            ok = writeJournal(journal);
        }
        ok = ok && cutSettled(fd, journal.settled, written);
        break;
    case SettledPlace::Gone:
        break;
    }
    if (locked) unlockAppenders(fd);
    return closeFile(fd) && ok;
}

// Step 6: on disk before the journal goes, so that a power cut can never
// bring back a request that was already answered. One that fails keeps the
// journal, and is tried again, rather than leave a request that the next
// cycle would settle a second time with nothing.
bool handBack() {
    bool trigger = writeWholeFile(triggerPath, "0");
    bool success = writeWholeFile(successPath, "1");
    return syncDirectory(exchangeDirPath) && trigger && success;
}

bool finishSettlement(Journal& journal) {
    return removeSettledBytes(journal) && handBack() && removeJournal();
}

}  // namespace

void recordSettlement(const char (&date)[9], std::int64_t busShare, std::int64_t metroShare,
                      std::int64_t total, const SettledBytes& settled) {
    SettlementFiles files{};
    openSettlement(files);
    Journal journal{JournalPhase::Appending, sizeOf(files.account), sizeOf(files.bus), sizeOf(files.metro),
                    settled};
    if (files.ok && !writeJournal(journal)) {
        printLine(openFailed);
        files.ok = false;
    }
    AccumulateRestore(files, date, busShare, metroShare, total);
    BusSend(files, busShare, date);
    MetroSend(files, metroShare, date);
    syncLedgers(files);
    if (files.ok) {
        journal.phase = JournalPhase::Recorded;
        if (!writeJournal(journal)) printLine(openFailed);
    }
    closeSettlement(files);
    // Whatever happened, the journal on disk now says what is left to do:
    // nothing, an undo, or the rest of a recorded settlement.
    settlePending();
}

bool settlePending() {
    Journal journal{};
    if (!readJournal(journal)) {
        // Every journal is whole before it is renamed into place, so one
        // that is there but cannot be read is not ours to guess at: the
        // operator is told, and nothing new is settled over it.
        if (::access(journalPath, F_OK) != 0) return true;
        printLine(openFailed);
        return false;
    }
    bool done = journal.phase == JournalPhase::Appending ? undoSettlement(journal) : finishSettlement(journal);
    if (!done) printLine(openFailed);
    return done;
}
