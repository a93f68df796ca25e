// Recording a settlement and handing the request back, exactly once. Every
// file must open before anything is written; the journal holds the exact
// lines before the first is appended; the lines are on disk before the
// journal says the settlement is recorded; from then on it is only ever
// finished, by the same routines whether the live cycle or a restart gets
// there: Reset takes the settled bytes out of Accumulated.txt,
// FinishSignal rewrites the trigger and success files, and the journal
// goes.
#include "exchange/accumulated.h"
#include "exchange/exchange.h"
#include "exchange/io.h"
#include "exchange/journal.h"
#include "exchange/ledger.h"
#include "exchange/removal.h"
#include "text/text.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::int64_t sizeOf(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? st.st_size : -1;
}

void setLine(JournalLedger& ledger, int length) {
    ledger.lineLength = length > 0 && static_cast<std::size_t>(length) < ledgerLineRoom
                            ? static_cast<std::size_t>(length)
                            : 0;
}

// The three ledger lines are made before anything is written, so that the
// journal can hold exactly the bytes each ledger is about to receive.
void AccumulateRestore(const char (&date)[9], std::int64_t busShare, std::int64_t metroShare, std::int64_t total,
                       JournalLedger& account) {
    setLine(account, std::snprintf(account.line, sizeof account.line, "%s\t%" PRId64 "\t%" PRId64 "\t%" PRId64 "\n",
                                   date, busShare, metroShare, total));
}

void BusSend(std::int64_t busShare, const char (&date)[9], JournalLedger& bus) {
    setLine(bus, std::snprintf(bus.line, sizeof bus.line, "%s\t%" PRId64 "\n", date, busShare));
}

void MetroSend(std::int64_t metroShare, const char (&date)[9], JournalLedger& metro) {
    setLine(metro, std::snprintf(metro.line, sizeof metro.line, "%s\t%" PRId64 "\n", date, metroShare));
}

void closeLedgers(Settlement& settlement) {
    for (int& fd : settlement.ledgers) {
        if (fd >= 0) closeFile(fd);
        fd = -1;
    }
}

// The blocks the line will take, allocated now, so that a full disk stops
// the settlement before its report rather than after it. The size stays,
// so peers see nothing; a file system that cannot reserve is written as
// before.
bool reserveRoom(int fd, const JournalLedger& ledger) {
    if (ledger.lineLength == 0) return true;  // no line: appending it fails
    if (::fallocate(fd, FALLOC_FL_KEEP_SIZE, ledger.size, static_cast<off_t>(ledger.lineLength)) == 0) return true;
    return errno == EOPNOTSUPP || errno == ENOSYS;
}

// The first of the files that cannot be opened, or nullptr.
const char* openLedgers(Settlement& settlement) {
    for (int i = 0; i < 3; ++i) {
        settlement.ledgers[i] = openFile(ledgerPaths[i], O_WRONLY | O_APPEND | O_CREAT);
        JournalLedger& ledger = settlement.journal.ledgers[i];
        if (settlement.ledgers[i] < 0 || !identityOf(settlement.ledgers[i], ledger.file) ||
            (ledger.size = sizeOf(settlement.ledgers[i])) < 0 || !reserveRoom(settlement.ledgers[i], ledger))
            return ledgerPaths[i];
    }
    // Opened only so that a record file that cannot be written stops the
    // settlement before anything is written, and exists for the peers.
    int accumulated = openFile(accumulatedPath, O_RDWR | O_CREAT);
    if (accumulated < 0) return accumulatedPath;
    closeFile(accumulated);
    return nullptr;
}

// The lines, and a ledger or record file this settlement created, on disk
// before the journal may say so. A ledger line is one write(2) on an
// O_APPEND descriptor: whole or not there at all.
bool appendLines(const Settlement& settlement) {
    for (int i = 0; i < 3; ++i) {
        const JournalLedger& ledger = settlement.journal.ledgers[i];
        if (ledger.lineLength == 0 || !writeAll(settlement.ledgers[i], ledger.line, ledger.lineLength)) return false;
    }
    for (int fd : settlement.ledgers)
        if (!syncFile(fd)) return false;
    return syncDirectory(exchangeDirPath);
}

// What an undo would do to one ledger: nothing (its line never reached
// it), cut it back, or nothing at all to any, because the file is not the
// one the journal names or does not end with exactly the journal's line
// at the size it recorded.
enum class Undo : unsigned char { Nothing, CutBack, NotOurs, Failed };
Undo undoOf(const JournalLedger& ledger, const char* path, int& fd) {
    fd = openFile(path, O_RDWR);
    if (fd < 0) return errno == ENOENT ? Undo::Nothing : Undo::Failed;
    FileIdentity file{};
    std::int64_t size = sizeOf(fd);
    if (!identityOf(fd, file) || size < 0) return Undo::Failed;
    if (!sameFile(file, ledger.file)) return Undo::NotOurs;
    if (size == ledger.size) return Undo::Nothing;
    // The line whole, or a first part of it where a power cut kept only
    // that much of the write: either way bytes of this settlement alone.
    // A cut can also keep the new size of a block that was written in
    // place but not its bytes (ext4 orders data only for new blocks), so
    // that some of the line reads as NUL bytes, which no line holds.
    std::int64_t added = size - ledger.size;
    if (added < 0 || added > static_cast<std::int64_t>(ledger.lineLength)) return Undo::NotOurs;
    char tail[ledgerLineRoom];
    auto length = static_cast<std::size_t>(added);
    if (!readAllAt(fd, tail, length, ledger.size)) return Undo::Failed;
    for (std::size_t i = 0; i < length; ++i)
        if (tail[i] != ledger.line[i] && tail[i] != '\0') return Undo::NotOurs;
    return Undo::CutBack;
}

// Every ledger is looked at before any is cut, so that a journal naming a
// file that is no longer the one it wrote to touches none of them.
bool undoSettlement(const Journal& journal) {
    int fds[3];
    Undo undo[3];
    bool ours = true, looked = true;
    for (int i = 0; i < 3; ++i) {
        undo[i] = undoOf(journal.ledgers[i], ledgerPaths[i], fds[i]);
        ours = ours && undo[i] != Undo::NotOurs;
        looked = looked && undo[i] != Undo::Failed;
    }
    bool cut = ours && looked;
    for (int i = 0; i < 3; ++i) {
        if (cut && undo[i] == Undo::CutBack)
            cut = ::ftruncate(fds[i], journal.ledgers[i].size) == 0 && syncFile(fds[i]);
        if (fds[i] >= 0) closeFile(fds[i]);
    }
    if (!ours) {
        printLine(journalLedgersText);
        return false;
    }
    if (!cut) printLine(openFailed);
    return cut && removeJournal();
}

// On disk before the journal goes, so that a power cut can never bring
// back a request that was already answered. One that fails keeps the
// journal, and is tried again, rather than leave a request that the next
// cycle would settle a second time with nothing.
bool FinishSignal() {
    bool trigger = writeWholeFile(triggerPath, "0");
    bool success = writeWholeFile(successPath, "1");
    return syncDirectory(exchangeDirPath) && trigger && success;
}

bool finishSettlement(Journal& journal) {
    bool done = Reset(journal) && FinishSignal() && removeJournal();
    if (!done) printLine(openFailed);
    return done;
}

}  // namespace

const char* prepareSettlement(const char (&date)[9], std::int64_t busShare, std::int64_t metroShare,
                              std::int64_t total, const SettledBytes& settled, Settlement& settlement) {
    settlement = Settlement{};
    for (int& fd : settlement.ledgers) fd = -1;
    Journal& journal = settlement.journal;
    journal.phase = JournalPhase::Appending;
    journal.settled = settled;
    journal.way = RemovalWay::Punch;
    journal.collapseFrom = -1;
    AccumulateRestore(date, busShare, metroShare, total, journal.ledgers[0]);
    BusSend(busShare, date, journal.ledgers[1]);
    MetroSend(metroShare, date, journal.ledgers[2]);
    const char* failed = openLedgers(settlement);
    if (failed == nullptr && !identityOfPath(exchangeDirPath, journal.exchange)) failed = exchangeDirPath;
    // Written, not only tried: a full working directory stops the
    // settlement here, before the report.
    if (failed == nullptr && !writeJournal(journal)) failed = journalPath;
    if (failed != nullptr) closeLedgers(settlement);
    return failed;
}

void recordSettlement(Settlement& settlement) {
    Journal& journal = settlement.journal;
    if (!appendLines(settlement)) {
        printLine(openFailed);
    } else {
        journal.phase = JournalPhase::Recorded;
        if (!writeJournal(journal)) printLine(openFailed);
    }
    closeLedgers(settlement);
    // Whatever happened, the journal on disk now says what is left to do:
    // nothing, an undo, or the rest of a recorded settlement.
    settlePending();
}

bool settlePending() {
    Journal journal{};
    switch (readJournal(journal)) {
    case JournalFound::None:
        return true;
    case JournalFound::Unknown:
        // Every journal is whole before it is renamed into place, so one
        // that cannot be read is not ours to guess at.
        printLine(journalForeignText);
        return false;
    case JournalFound::Ours:
        break;
    }
    FileIdentity exchange{};
    if (!identityOfPath(exchangeDirPath, exchange)) {
        printLine(openFailed);
        return false;
    }
    if (!sameFile(exchange, journal.exchange)) {
        printLine(journalForeignText);
        return false;
    }
    return journal.phase == JournalPhase::Appending ? undoSettlement(journal) : finishSettlement(journal);
}
