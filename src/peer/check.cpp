// fare-peer check: what a settlement would make of a record file now, and
// every place where the file would garble it. The sums and the count come
// from the settlement's own reader and fare table; the places from a walk
// over the same bytes by the reading rules written plainly (rules.h), which
// knows each token's line and offset.
#include "apportion/apportion.h"
#include "exchange/exchange.h"
#include "exchange/io.h"
#include "exchange/rules.h"
#include "exchange/scan.h"
#include "peer/peer.h"
#include "text/peer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <array>
#include <fcntl.h>
#include <unistd.h>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr std::size_t checkBlock = std::size_t{1} << 20;
constexpr std::size_t shownBytes = 24;
constexpr int summaryPlaces = 10;

enum class Kind { WordAmount, LetteredAmount, ControlByte, CutToken, LeftOver, Carrier, NotInTable, OutOfRange };
constexpr int kinds = 8;
constexpr const char* kindNames[kinds] = {"amount-not-a-number", "amount-with-letters", "control-byte",
                                          "token-cut", "left-over", "carrier-unknown", "amount-not-in-table",
                                          "amount-out-of-range"};

struct Finding {
    Kind kind;
    std::int64_t offset;  // of the token
    std::int64_t line;
    std::int64_t record;  // 1-based, as a settlement numbers what it reads
    int step;             // tokens the records after it are out of step by
    std::string token;    // shown safely
};

// What the walk keeps of the records as the reading rules read them.
struct Walk {
    RulesReader reader;
    int step = 0;       // tokens the reading is out of step by, 0 to 4
    int nextStep = 0;   // the step from the next record on
    int lastField = 0;  // of the latest token
    std::int64_t lastRecordStart = 0, lastRecordLine = 1;  // of the latest token that begins a whole record
    std::int64_t counted = 0;     // the records a settlement reads, known from the first pass
    std::vector<Finding> firsts;  // the first finding of each kind, for the summary
    std::vector<Finding> steps;   // the first places the step changes, for the summary
    std::int64_t moreSteps = 0;   // and how many more there are
    std::int64_t counts[kinds] = {};
    RulesToken mode{}, amount{};  // of the record being read
    std::int64_t outOfStep = 0;
    bool list = false;
};

std::string shown(const RulesToken& t) {
    std::string out;
    std::size_t kept = static_cast<std::size_t>(std::min<std::int64_t>(t.length, shownBytes));
    for (std::size_t i = 0; i < kept; ++i) {
        auto c = static_cast<unsigned char>(t.head[i]);
        if (c >= 0x21 && c < 0x7f && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    if (t.length > static_cast<std::int64_t>(kept)) out += "...(" + std::to_string(t.length) + " bytes)";
    return out;
}

void printFinding(const Finding& f) {
    std::printf(peerCheckListLine, static_cast<long long>(f.offset), static_cast<long long>(f.line),
                static_cast<long long>(f.record), kindNames[static_cast<int>(f.kind)], f.token.c_str());
}

// A finding counts only where it lies among the records that a settlement
// reads (known before the walk begins); one past them was never read,
// except that the tokens left over are reported as such.
void noteFinding(Walk& w, const Finding& f) {
    Kind kind = f.kind;
    if (f.record > w.counted && kind != Kind::LeftOver) return;
    int k = static_cast<int>(kind);
    if (w.counts[k]++ == 0) w.firsts.push_back(f);
    if (kind == Kind::WordAmount || kind == Kind::LetteredAmount) {
        if (w.steps.size() <= summaryPlaces)
            w.steps.push_back(f);
        else
            ++w.moreSteps;
    }
    if (w.list) printFinding(f);
}

void note(Walk& w, Kind kind, const RulesToken& t, int step) {
    noteFinding(w, {kind, t.offset, t.line, t.record + 1, step, shown(t)});
}

// Why a settlement leaves a record's amount undivided.
Kind undividedCause(const FareRecord& r) {
    if (!namesCarrier(r)) return Kind::Carrier;
    bool range = r.amount < std::numeric_limits<std::int32_t>::min() || r.amount > std::numeric_limits<std::int32_t>::max();
    return range ? Kind::OutOfRange : Kind::NotInTable;
}

// One whole token, in the field the reading rules gave it.
void walkToken(Walk& w, const RulesToken& t) {
    if (t.index % 5 == 0) {
        w.lastRecordStart = t.offset;
        w.lastRecordLine = t.line;
    }
    w.lastField = t.field;
    if (t.control) note(w, Kind::ControlByte, t, w.step);
    if (t.field == 1) w.mode = t;
    if (t.field == static_cast<int>(amountField)) {
        w.amount = t;
        // No number, or letters behind it: the record ends with this token,
        // and every record after it is read one more token out of step.
        if (t.shape != AmountShape::Number) {
            w.nextStep = (w.step + 1) % 5;
            note(w, t.shape == AmountShape::Lettered ? Kind::LetteredAmount : Kind::WordAmount, t, w.nextStep);
        }
        return;
    }
    // Out of step, tokens land in the wrong fields: that is reported once,
    // where the step changed, not for every token after it.
    if (static_cast<std::size_t>(t.length) > fareFields[t.field].whole && w.step == 0) note(w, Kind::CutToken, t, w.step);
}

// A whole record. One read in step is divided as a settlement divides it:
// where it is not, the place is noted with its cause.
void walkRecord(Walk& w, const FareRecord& record, std::int64_t index) {
    if (w.step != 0 && index < w.counted) ++w.outOfStep;
    if (w.step == 0 && w.lastField == 4) {
        std::vector<FareRecord> one(1, record);
        std::int64_t bus = 0, metro = 0;
        Account(one, bus, metro, 1);
        if (bus + metro != record.amount) {
            Kind cause = undividedCause(record);
            note(w, cause, cause == Kind::Carrier ? w.mode : w.amount, w.step);
        }
    }
    w.step = w.nextStep;
}

// What a settlement does with each record: the total, the two shares, and
// the part of the total it does not divide, by cause.
struct Money {
    std::int64_t total = 0, bus = 0, metro = 0;
    std::int64_t carrier = 0, amount = 0, range = 0;  // not divided: not BUS/METRO, not in the table, not 32-bit
};

void divide(Money& m, std::vector<FareRecord>& records, std::size_t count) {
    // The shares of the whole block first, as a settlement divides it; then,
    // only where the block's sums show undivided money, record by record.
    std::int64_t blockTotal = 0, bus = 0, metro = 0;
    for (std::size_t i = 0; i < count; ++i) blockTotal = addSaturating(blockTotal, records[i].amount);
    Account(records, bus, metro, static_cast<std::int64_t>(count));
    m.total = addSaturating(m.total, blockTotal);
    m.bus += bus;
    m.metro += metro;
    if (blockTotal == bus + metro) return;
    std::vector<FareRecord> one(1);
    for (std::size_t i = 0; i < count; ++i) {
        const FareRecord& r = records[i];
        std::int64_t recordBus = 0, recordMetro = 0;
        one[0] = r;
        Account(one, recordBus, recordMetro, 1);
        std::int64_t undivided = r.amount - (recordBus + recordMetro);
        if (undivided == 0) continue;
        Kind cause = undividedCause(r);
        (cause == Kind::Carrier ? m.carrier : cause == Kind::OutOfRange ? m.range : m.amount) += undivided;
    }
}

// Reads the file from its start with the settlement's reader, dividing the
// records of each block as they are ready: to its end, or, on a second
// pass, to `end` or until every counted record is handed out. False on a
// read error; `bytes` is where the reading stopped, holes counted.
bool divideBlocks(int fd, RecordScan& scan, std::vector<char>& buffer, Money& money, std::int64_t end,
                  std::int64_t& bytes) {
    // Holes are read as a settlement reads them: as no bytes at all.
    DataCursor cursor{};
    for (;;) {
        std::size_t want = buffer.size();
        if (end >= 0) {
            if (secondPassDone(scan) || cursor.offset >= end) return true;
            want = static_cast<std::size_t>(std::min<std::int64_t>(end - cursor.offset, checkBlock));
        }
        ssize_t n = readData(fd, cursor, buffer.data(), want);
        if (n < 0 || (n == 0 && end >= 0)) return false;
        if (n == 0) return true;
        scanRecords(scan, buffer.data(), static_cast<std::size_t>(n));
        bytes = cursor.offset;
        std::size_t ready = readyRecords(scan);
        divide(money, *scan.records, ready);
        dropRecords(scan, ready);
    }
}

}  // namespace

int peerCheck(const std::string& dir, const Args& args) {
    Walk w;
    startRules(w.reader);
    const RulesEvents events{[&w](const RulesToken& t) { walkToken(w, t); },
                             [&w](const FareRecord& r, std::int64_t index) { walkRecord(w, r, index); }};
    std::string file;
    for (const std::string& a : args) {
        if (a == "--list")
            w.list = true;
        else if (!a.empty() && a[0] == '-')
            return peerError(peerBadInput, peerUnknownOption, "check", a.c_str());
        else if (file.empty())
            file = a;
        else
            return peerError(peerBadInput, peerTooMany, "check", a.c_str());
    }
    if (file.empty()) file = exchangeFile(dir, accumulatedPath);
    // Read only, and without the appenders' lock: a check never holds up a
    // peer or a settlement.
    int fd = openFile(file.c_str(), O_RDONLY);
    if (fd < 0) return peerError(peerBadInput, peerReadFailed, file.c_str(), std::strerror(errno));

    // First the settlement's own reader, at its own speed: the sums and the
    // count.
    std::vector<char> buffer(checkBlock);
    std::vector<FareRecord> records;
    records.reserve(checkBlock / 16);
    RecordScan scan;
    startRecords(scan, records);
    Money money;
    std::int64_t bytes = 0;
    bool readFailed = !divideBlocks(fd, scan, buffer, money, -1, bytes);
    std::int64_t count = finishRecords(scan);
    divide(money, records, records.size());
    // Records that outran the count are divided on a second pass over the
    // same bytes, as a settlement divides them.
    if (!readFailed && needsSecondPass(scan, count)) {
        startSecondPass(scan, count);
        std::int64_t reread = 0;
        readFailed = !divideBlocks(fd, scan, buffer, money, bytes, reread);
        finishRecords(scan);
        divide(money, records, records.size());
    }
    w.counted = count;

    // Then the same bytes once more, walked by the reading rules token by
    // token, with lines and offsets, to tell where anything is amiss.
    DataCursor walked{};
    while (!readFailed && walked.offset < bytes) {
        ssize_t n = readData(fd, walked, buffer.data(),
                             static_cast<std::size_t>(std::min<std::int64_t>(bytes - walked.offset, checkBlock)));
        if (n <= 0) {
            readFailed = true;
            break;
        }
        readByRules(w.reader, buffer.data(), static_cast<std::size_t>(n), events);
    }
    int savedErrno = errno;
    closeFile(fd);
    if (readFailed) return peerError(peerBadInput, peerReadFailed, file.c_str(), std::strerror(savedErrno));
    endRules(w.reader, events);
    if (w.reader.tokens % 5 != 0) {
        noteFinding(w, {Kind::LeftOver, w.lastRecordStart, w.lastRecordLine, count + 1, w.step,
                        std::to_string(w.reader.tokens % 5) + " tokens"});
    }

    std::int64_t findings = 0;
    for (std::int64_t c : w.counts) findings += c;
    if (w.list) return findings == 0 ? peerOk : peerFailed;

    std::printf(peerCheckHead, file.c_str(), static_cast<long long>(count), static_cast<long long>(bytes));
    std::printf(peerCheckSums, static_cast<long long>(money.total), static_cast<long long>(money.bus),
                static_cast<long long>(money.metro));
    if (money.carrier != 0 || money.amount != 0 || money.range != 0)
        std::printf(peerCheckUndivided, static_cast<long long>(money.carrier + money.amount + money.range),
                    static_cast<long long>(money.carrier), static_cast<long long>(money.amount),
                    static_cast<long long>(money.range));
    if (!w.steps.empty()) {
        const Finding& first = w.steps.front();
        std::printf(peerCheckOutOfStep, static_cast<long long>(first.record), static_cast<long long>(first.line),
                    static_cast<long long>(first.offset), first.token.c_str(), static_cast<long long>(w.outOfStep));
        for (std::size_t i = 1; i < w.steps.size() && i <= summaryPlaces; ++i) {
            const Finding& f = w.steps[i];
            std::printf(peerCheckStepAgain, static_cast<long long>(f.record), static_cast<long long>(f.line),
                        static_cast<long long>(f.offset), f.token.c_str(), f.step);
        }
        if (w.moreSteps > 0) std::printf(peerCheckMorePlaces, static_cast<long long>(w.moreSteps));
    }
    for (const Finding& f : w.firsts) {
        if (f.kind == Kind::WordAmount || f.kind == Kind::LetteredAmount) continue;
        if (f.kind == Kind::LeftOver) {
            std::printf(peerCheckLeftOver, f.token.c_str(), static_cast<long long>(f.line),
                        static_cast<long long>(f.offset));
            continue;
        }
        std::printf(peerCheckFirst, static_cast<long long>(w.counts[static_cast<int>(f.kind)]),
                    kindNames[static_cast<int>(f.kind)], static_cast<long long>(f.record),
                    static_cast<long long>(f.line), static_cast<long long>(f.offset), f.token.c_str());
    }
    std::fputs(findings == 0 ? peerCheckClean : peerCheckGarbled, stdout);
    return findings == 0 ? peerOk : peerFailed;
}
