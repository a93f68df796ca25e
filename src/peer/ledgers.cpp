// ledgers: the three ledgers side by side, and every place they disagree.
#include "exchange/exchange.h"
#include "exchange/io.h"
#include "peer/peer.h"
#include "text/peer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>

namespace {

struct Lines {
    std::vector<std::string> lines;
    bool torn;  // the last line has no line feed: a write was cut short
};

Lines splitLines(const std::string& content) {
    Lines out{{}, false};
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t end = content.find('\n', start);
        if (end == std::string::npos) {
            out.lines.push_back(content.substr(start));
            out.torn = true;
            break;
        }
        out.lines.push_back(content.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

std::vector<std::string> splitTabs(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = line.find('\t', start);
        fields.push_back(line.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) return fields;
        start = end + 1;
    }
}

std::string where(const char* file, std::size_t line) {
    return std::string(file) + " line " + std::to_string(line + 1);
}

// Reads one line of `fields` fields: a date and numbers.
bool parseRow(const std::string& line, std::size_t fields, std::string& date, long long* numbers) {
    std::vector<std::string> parts = splitTabs(line);
    if (parts.size() != fields) return false;
    date = parts[0];
    for (std::size_t i = 1; i < fields; ++i) {
        std::int64_t value = 0;
        if (!parseWhole(parts[i], value)) return false;
        numbers[i - 1] = value;
    }
    return true;
}

void checkTorn(const Lines& lines, const char* file, LedgerCheck& check) {
    if (lines.torn) check.problems.push_back(where(file, lines.lines.size() - 1) + " has no line end: it was cut short");
}

bool readAll(const std::string& path, std::string& content) {
    content.clear();
    int fd = openFile(path.c_str(), O_RDONLY);
    if (fd < 0) return errno == ENOENT;
    char buffer[65536];
    ssize_t n;
    while ((n = readSome(fd, buffer, sizeof buffer)) > 0) content.append(buffer, static_cast<std::size_t>(n));
    closeFile(fd);
    return n == 0;
}

}  // namespace

LedgerCheck checkLedgers(const std::string& account, const std::string& bus, const std::string& metro) {
    LedgerCheck check;
    const char* accountName = fileNameOf(accountPath);
    const char* busName = fileNameOf(busAccountPath);
    const char* metroName = fileNameOf(metroAccountPath);
    Lines a = splitLines(account);
    Lines b = splitLines(bus);
    Lines m = splitLines(metro);
    checkTorn(a, accountName, check);
    checkTorn(b, busName, check);
    checkTorn(m, metroName, check);
    if (a.lines.size() != b.lines.size() || a.lines.size() != m.lines.size())
        check.problems.push_back(std::string("they hold different numbers of settlements: ") + accountName + " " +
                                 std::to_string(a.lines.size()) + ", " + busName + " " +
                                 std::to_string(b.lines.size()) + ", " + metroName + " " +
                                 std::to_string(m.lines.size()));
    for (std::size_t i = 0; i < a.lines.size(); ++i) {
        LedgerRow row{};
        long long numbers[3] = {0, 0, 0};
        if (!parseRow(a.lines[i], 4, row.date, numbers)) {
            check.problems.push_back(where(accountName, i) + " is not date, bus, metro, total");
            continue;
        }
        row.bus = numbers[0];
        row.metro = numbers[1];
        row.total = numbers[2];
        check.rows.push_back(row);
        const struct {
            const Lines& lines;
            const char* name;
            long long expected;
            const char* what;
        } sides[] = {{b, busName, row.bus, "bus"}, {m, metroName, row.metro, "metro"}};
        for (const auto& side : sides) {
            if (i >= side.lines.lines.size()) continue;
            std::string date;
            long long value = 0;
            if (!parseRow(side.lines.lines[i], 2, date, &value))
                check.problems.push_back(where(side.name, i) + " is not date, " + side.what);
            else if (date != row.date || value != side.expected)
                check.problems.push_back(where(side.name, i) + " says " + date + " " + std::to_string(value) +
                                         ", but " + where(accountName, i) + " says " + row.date + " " +
                                         std::to_string(side.expected));
        }
    }
    return check;
}

int peerLedgers(const std::string& dir, const Args& args) {
    if (!args.empty()) return peerError(peerBadInput, peerTooMany, "ledgers", args[0].c_str());
    std::string content[3];
    const char* paths[] = {accountPath, busAccountPath, metroAccountPath};
    for (int i = 0; i < 3; ++i) {
        std::string path = exchangeFile(dir, paths[i]);
        if (!readAll(path, content[i]))
            return peerError(peerFailed, peerReadFailed, path.c_str(), std::strerror(errno));
    }
    LedgerCheck check = checkLedgers(content[0], content[1], content[2]);
    if (check.rows.empty() && check.problems.empty()) {
        std::fputs(peerNoLedgers, stdout);
        return peerOk;
    }
    std::printf(peerTableHead, "#", "date", "bus", "metro", "total");
    long long bus = 0, metro = 0, total = 0;
    for (std::size_t i = 0; i < check.rows.size(); ++i) {
        const LedgerRow& r = check.rows[i];
        std::printf(peerTableRow, i + 1, r.date.c_str(), r.bus, r.metro, r.total);
        bus += r.bus;
        metro += r.metro;
        total += r.total;
    }
    std::printf(peerTableSum, "sum", "", bus, metro, total);
    for (const std::string& problem : check.problems) std::printf(peerDisagree, problem.c_str());
    if (check.problems.empty()) std::fputs(peerAgree, stdout);
    return check.problems.empty() ? peerOk : peerFailed;
}
