// Recording a settlement and handing the request back. The order is what
// keeps money from being lost or counted twice: every file must open before
// anything is written; a journal says what is being done before the first
// ledger line; the ledger lines are on disk before the settled records
// leave Accumulated.txt; and the trigger and success files are rewritten
// only once both are done. Any failure before the hand-back undoes the
// ledger lines, so the request stays and the same records are settled again
// at the next cycle; a kill is undone or finished from the journal.
#include "exchange/exchange.h"
#include "exchange/io.h"
#include "exchange/journal.h"
#include "text/text.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int openLogged(const char* path, int flags, SettlementFiles& files) {
    int fd = openFile(path, flags);
    if (fd < 0) {
        printLine(openFailed);
        files.ok = false;
    }
    return fd;
}

off_t sizeOf(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? st.st_size : -1;
}

// Cuts every ledger back to its size before this settlement.
void rollBack(SettlementFiles& files) {
    const int fds[] = {files.account, files.bus, files.metro};
    const off_t sizes[] = {files.accountSize, files.busSize, files.metroSize};
    for (int i = 0; i < 3; ++i) {
        // A device such as /dev/full cannot be cut, and never took a byte.
        if (::ftruncate(fds[i], sizes[i]) == 0) syncFile(fds[i]);
    }
}

void fail(SettlementFiles& files) {
    printLine(openFailed);
    rollBack(files);
    files.ok = false;
}

Journal journalOf(const SettlementFiles& files, bool recorded) {
    return Journal{recorded,     files.accountSize, files.busSize,    files.metroSize,
                   files.settled, files.device,     files.inode,      files.signature};
}

void appendLine(SettlementFiles& files, int fd, const char* line, int length) {
    if (!files.ok) return;
    if (length < 0 || !writeAll(fd, line, static_cast<std::size_t>(length))) fail(files);
}

}  // namespace

void recordSettlement(const char (&date)[9], std::int64_t busShare, std::int64_t metroShare,
                      std::int64_t total, const AccumulatedSnapshot& snapshot) {
    SettlementFiles files{};
    openSettlement(files);
    beginJournal(files, snapshot);
    AccumulateRestore(files, date, busShare, metroShare, total);
    BusSend(files, busShare, date);
    MetroSend(files, metroShare, date);
    commitLedgers(files);
    Reset(files, snapshot);
    closeSettlement(files);
    FinishSignal(files);
    endJournal(files);
}

void openSettlement(SettlementFiles& files) {
    files = SettlementFiles{};
    files.account = files.bus = files.metro = files.accumulated = -1;
    files.ok = true;
    files.account = openLogged(accountPath, O_WRONLY | O_APPEND | O_CREAT, files);
    files.bus = openLogged(busAccountPath, O_WRONLY | O_APPEND | O_CREAT, files);
    files.metro = openLogged(metroAccountPath, O_WRONLY | O_APPEND | O_CREAT, files);
    files.accumulated = openLogged(accumulatedPath, O_RDWR | O_CREAT, files);
    if (!files.ok) return;
    files.accountSize = sizeOf(files.account);
    files.busSize = sizeOf(files.bus);
    files.metroSize = sizeOf(files.metro);
    if (files.accountSize < 0 || files.busSize < 0 || files.metroSize < 0) {
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

void beginJournal(SettlementFiles& files, const AccumulatedSnapshot& snapshot) {
    if (!files.ok) return;
    files.settled = snapshot.opened ? snapshot.bytes : 0;
    files.device = static_cast<std::uint64_t>(snapshot.device);
    files.inode = static_cast<std::uint64_t>(snapshot.inode);
    if ((files.settled > 0 && !settledSignature(files.accumulated, files.settled, files.signature)) ||
        !writeJournal(journalOf(files, false))) {
        printLine(openFailed);
        files.ok = false;
        removeJournal();
        return;
    }
    files.journaled = true;
}

void commitLedgers(SettlementFiles& files) {
    if (!files.ok) return;
    if (!syncFile(files.account) || !syncFile(files.bus) || !syncFile(files.metro) ||
        !writeJournal(journalOf(files, true)))
        fail(files);
}

void Reset(SettlementFiles& files, const AccumulatedSnapshot& snapshot) {
    if (!files.ok) return;
    int fd = files.accumulated;
    bool locked = lockAppenders(fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        fail(files);
    } else if (!snapshot.opened || snapshot.bytes == 0 || st.st_dev != snapshot.device ||
               st.st_ino != snapshot.inode || st.st_size < snapshot.bytes) {
        // Nothing was read, or the file read is no longer there as it was:
        // what the file holds now was never settled, so it stays.
    } else if (!removeSettled(fd, snapshot.bytes, st.st_size)) {
        fail(files);
    }
    if (locked) ::flock(fd, LOCK_UN);
    // The ledgers hold these records now; if the removal cannot be made
    // durable the operator is told, but the ledgers are not undone, since
    // the records are already gone from the file as the peers see it.
    if (files.ok && !syncFile(fd)) printLine(openFailed);
}

void closeSettlement(SettlementFiles& files) {
    // The ledgers were synced before anything depended on them; a close
    // that fails now is worth a line but loses nothing.
    for (int fd : {files.account, files.bus, files.metro, files.accumulated}) {
        if (fd >= 0 && !closeFile(fd) && files.ok) printLine(openFailed);
    }
    files.account = files.bus = files.metro = files.accumulated = -1;
}

void FinishSignal(const SettlementFiles& files) {
    if (!files.ok) return;
    if (!writeWholeFile(triggerPath, "0")) printLine(openFailed);
    if (!writeWholeFile(successPath, "1")) printLine(openFailed);
}

void endJournal(SettlementFiles& files) {
    // Done, or undone: either way nothing is left for a restart to finish.
    if (files.journaled && !removeJournal()) printLine(openFailed);
    files.journaled = false;
}
