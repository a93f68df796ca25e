#include "exchange/journal.h"

#include "exchange/io.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// One line: "fare-settle journal", the phase, the three ledger sizes, the
// settled bytes' count, device, inode and tail hash, and their head in hex
// ("-" when empty).
constexpr char journalTag[] = "fare-settle journal";
constexpr const char* phaseNames[] = {"appending", "recorded", "marked"};
constexpr char hexDigits[] = "0123456789abcdef";

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

bool writeJournal(const Journal& journal) {
    const SettledBytes& s = journal.settled;
    char head[2 * settledHeadRoom + 1] = "-";
    std::size_t m = static_cast<std::size_t>(std::min<std::int64_t>(std::max<std::int64_t>(s.bytes, 0), settledHeadRoom));
    for (std::size_t i = 0; i < m; ++i) {
        head[2 * i] = hexDigits[static_cast<unsigned char>(s.head[i]) >> 4];
        head[2 * i + 1] = hexDigits[static_cast<unsigned char>(s.head[i]) & 15];
        head[2 * i + 2] = '\0';
    }
    char line[512];
    int length = std::snprintf(line, sizeof line,
                               "%s %s %" PRId64 " %" PRId64 " %" PRId64 " %" PRId64 " %" PRIu64 " %" PRIu64
                               " %" PRIu64 " %s\n",
                               journalTag, phaseNames[static_cast<int>(journal.phase)], journal.accountSize,
                               journal.busSize, journal.metroSize, s.bytes, s.device, s.inode, s.tailHash, head);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof line) return false;
    int fd = openFile(journalNewPath, O_WRONLY | O_CREAT | O_TRUNC);
    if (fd < 0) return false;
    bool written = writeAll(fd, line, static_cast<std::size_t>(length)) && syncFile(fd);
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

bool readJournal(Journal& journal) {
    int fd = openFile(journalPath, O_RDONLY);
    if (fd < 0) return false;
    char line[512] = {};
    ssize_t n = readSome(fd, line, sizeof line - 1);
    closeFile(fd);
    if (n <= 0) return false;
    char tag1[16] = {}, tag2[16] = {}, phase[16] = {}, head[2 * settledHeadRoom + 2] = {};
    journal = Journal{};
    SettledBytes& s = journal.settled;
    int fields = std::sscanf(line, "%15s %15s %15s %" SCNd64 " %" SCNd64 " %" SCNd64 " %" SCNd64 " %" SCNu64
                                   " %" SCNu64 " %" SCNu64 " %129s",
                             tag1, tag2, phase, &journal.accountSize, &journal.busSize, &journal.metroSize,
                             &s.bytes, &s.device, &s.inode, &s.tailHash, head);
    if (fields != 11 || std::strcmp(tag1, "fare-settle") != 0 || std::strcmp(tag2, "journal") != 0) return false;
    int which = -1;
    for (int i = 0; i < 3; ++i)
        if (std::strcmp(phase, phaseNames[i]) == 0) which = i;
    if (which < 0) return false;
    journal.phase = static_cast<JournalPhase>(which);
    std::size_t m = static_cast<std::size_t>(std::min<std::int64_t>(std::max<std::int64_t>(s.bytes, 0), settledHeadRoom));
    if (m == 0) return std::strcmp(head, "-") == 0;
    if (std::strlen(head) != 2 * m) return false;
    for (std::size_t i = 0; i < m; ++i) {
        int hi = hexValue(head[2 * i]), lo = hexValue(head[2 * i + 1]);
        if (hi < 0 || lo < 0) return false;
        s.head[i] = static_cast<char>(hi * 16 + lo);
    }
    return true;
}

bool journalWritable() {
    int fd = openFile(journalNewPath, O_WRONLY | O_CREAT | O_TRUNC);
    if (fd < 0) return false;
    bool closed = closeFile(fd);
    return ::unlink(journalNewPath) == 0 && closed;
}
