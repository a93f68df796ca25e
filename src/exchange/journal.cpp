#include "exchange/journal.h"

#include "exchange/io.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <unistd.h>

namespace {

// Nine lines; the version is in the first, so that a journal written by
// another version of this program is recognised as one and left alone:
//   fare-settle journal 2
//   phase appending|recorded|removing|punched
//   exchange INODE BORN_S BORN_NS
//   ledger NAME INODE BORN_S BORN_NS SIZE LINE_HEX      (three times)
//   settled BYTES TAIL_HASH HEAD_HEX
//   records INODE BORN_S BORN_NS cut|punch COLLAPSE_FROM
//   end
// An empty hex text is written "-".
constexpr char journalHeader[] = "fare-settle journal 2";
constexpr const char* phaseNames[] = {"appending", "recorded", "removing", "punched"};
constexpr const char* wayNames[] = {"cut", "punch"};
constexpr std::size_t journalRoom = 4096;

void putHex(std::string& out, const char* data, std::size_t size) {
    constexpr char digits[] = "0123456789abcdef";
    if (size == 0) out += '-';
    for (std::size_t i = 0; i < size; ++i) {
        out += digits[static_cast<unsigned char>(data[i]) >> 4];
        out += digits[static_cast<unsigned char>(data[i]) & 15];
    }
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Fills `data` with exactly `room` or fewer bytes; false on anything else.
bool getHex(const char* text, char* data, std::size_t room, std::size_t& size) {
    if (std::strcmp(text, "-") == 0) {
        size = 0;
        return true;
    }
    std::size_t n = std::strlen(text);
    if (n % 2 != 0 || n / 2 > room) return false;
    for (std::size_t i = 0; i < n / 2; ++i) {
        int hi = hexValue(text[2 * i]), lo = hexValue(text[2 * i + 1]);
        if (hi < 0 || lo < 0) return false;
        data[i] = static_cast<char>(hi * 16 + lo);
    }
    size = n / 2;
    return true;
}

void putIdentity(std::string& out, const FileIdentity& id) {
    char text[80];
    std::snprintf(text, sizeof text, " %" PRIu64 " %" PRId64 " %" PRIu32, id.inode, id.bornSeconds,
                  id.bornNanoseconds);
    out += text;
}

std::size_t headLength(const SettledBytes& settled) {
    return static_cast<std::size_t>(std::clamp<std::int64_t>(settled.bytes, 0, settledHeadRoom));
}

int nameIndex(const char* name, const char* const* names, int count) {
    for (int i = 0; i < count; ++i)
        if (std::strcmp(name, names[i]) == 0) return i;
    return -1;
}

// Splits `text` into its lines, in place; false unless there are exactly
// `count`, each ended by a line feed.
bool splitLines(char* text, std::size_t size, char** lines, int count) {
    int n = 0;
    char* start = text;
    for (std::size_t i = 0; i < size; ++i) {
        if (text[i] != '\n') continue;
        if (n == count) return false;
        text[i] = '\0';
        lines[n++] = start;
        start = text + i + 1;
    }
    return n == count && start == text + size;
}

bool parseJournal(char* text, std::size_t size, Journal& journal) {
    char* lines[9];
    if (!splitLines(text, size, lines, 9) || std::strcmp(lines[0], journalHeader) != 0 ||
        std::strcmp(lines[8], "end") != 0)
        return false;
    char word[32] = {}, hex[2 * ledgerLineRoom + 2] = {};
    char extra;
    journal = Journal{};
    if (std::sscanf(lines[1], "phase %31s%c", word, &extra) != 1) return false;
    int phase = nameIndex(word, phaseNames, 4);
    if (phase < 0) return false;
    journal.phase = static_cast<JournalPhase>(phase);
    FileIdentity& x = journal.exchange;
    if (std::sscanf(lines[2], "exchange %" SCNu64 " %" SCNd64 " %" SCNu32 "%c", &x.inode, &x.bornSeconds,
                    &x.bornNanoseconds, &extra) != 3)
        return false;
    for (int i = 0; i < 3; ++i) {
        JournalLedger& l = journal.ledgers[i];
        if (std::sscanf(lines[3 + i], "ledger %31s %" SCNu64 " %" SCNd64 " %" SCNu32 " %" SCNd64 " %193s%c", word,
                        &l.file.inode, &l.file.bornSeconds, &l.file.bornNanoseconds, &l.size, hex, &extra) != 6 ||
            std::strcmp(word, fileNameOf(ledgerPaths[i])) != 0 || !getHex(hex, l.line, ledgerLineRoom, l.lineLength))
            return false;
    }
    SettledBytes& s = journal.settled;
    std::size_t head = 0;
    if (std::sscanf(lines[6], "settled %" SCNd64 " %" SCNu64 " %129s%c", &s.bytes, &s.tailHash, hex, &extra) != 3 ||
        !getHex(hex, s.head, settledHeadRoom, head) || head != headLength(s))
        return false;
    FileIdentity& r = journal.records;
    if (std::sscanf(lines[7], "records %" SCNu64 " %" SCNd64 " %" SCNu32 " %31s %" SCNd64 "%c", &r.inode,
                    &r.bornSeconds, &r.bornNanoseconds, word, &journal.collapseFrom, &extra) != 5)
        return false;
    int way = nameIndex(word, wayNames, 2);
    if (way < 0) return false;
    journal.way = static_cast<RemovalWay>(way);
    return true;
}

}  // namespace

bool writeJournal(const Journal& journal) {
    std::string text = journalHeader;
    text += "\nphase ";
    text += phaseNames[static_cast<int>(journal.phase)];
    text += "\nexchange";
    putIdentity(text, journal.exchange);
    for (int i = 0; i < 3; ++i) {
        const JournalLedger& l = journal.ledgers[i];
        text += "\nledger ";
        text += fileNameOf(ledgerPaths[i]);
        putIdentity(text, l.file);
        text += ' ' + std::to_string(l.size) + ' ';
        putHex(text, l.line, std::min(l.lineLength, ledgerLineRoom));
    }
    const SettledBytes& s = journal.settled;
    text += "\nsettled " + std::to_string(s.bytes) + ' ' + std::to_string(s.tailHash) + ' ';
    putHex(text, s.head, headLength(s));
    text += "\nrecords";
    putIdentity(text, journal.records);
    text += ' ';
    text += wayNames[static_cast<int>(journal.way)];
    text += ' ' + std::to_string(journal.collapseFrom) + "\nend\n";

    int fd = openFile(journalNewPath, O_WRONLY | O_CREAT | O_TRUNC);
    if (fd < 0) return false;
    bool written = writeAll(fd, text.data(), text.size()) && syncFile(fd);
    if (!closeFile(fd) || !written) {
        ::unlink(journalNewPath);
        return false;
    }
    return ::rename(journalNewPath, journalPath) == 0 && syncDirectory(".");
}

bool removeJournal() {
    if (::unlink(journalPath) != 0 && errno != ENOENT) return false;
    return syncDirectory(".");
}

JournalFound readJournal(Journal& journal) {
    int fd = openFile(journalPath, O_RDONLY);
    if (fd < 0) return errno == ENOENT ? JournalFound::None : JournalFound::Unknown;
    char text[journalRoom + 1] = {};
    std::size_t size = 0;
    ssize_t n;
    while (size < journalRoom && (n = readSome(fd, text + size, journalRoom - size)) > 0)
        size += static_cast<std::size_t>(n);
    closeFile(fd);
    return parseJournal(text, size, journal) ? JournalFound::Ours : JournalFound::Unknown;
}
