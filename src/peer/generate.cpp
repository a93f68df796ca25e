// generate: many realistic fare records, fast and reproducible.
#include "exchange/exchange.h"
#include "peer/peer.h"
#include "text/peer.h"

#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

// The peer's own copy of the tariff: what each fare it taps is worth to
// each operator. It is written out independently of the settlement program
// so that comparing the two catches a mistake in either.
struct Fare {
    const char* carrier;
    long long amount;  // 0: any multiple of 10 from 100 to 700
    long long bus;
    long long metro;
    int weight;
};

constexpr Fare tableFares[] = {
    {"BUS", 0, 0, 0, 30},         {"BUS", 1050, 1050, 0, 8},     {"BUS", 1250, 1050, 200, 8},
    {"BUS", 1650, 1268, 382, 6},  {"BUS", 1750, 1470, 280, 4},   {"METRO", 200, 0, 200, 6},
    {"METRO", 300, -459, 759, 6}, {"METRO", 600, -408, 1008, 4}, {"METRO", 1050, 0, 1050, 10},
    {"METRO", 1250, 200, 1050, 8}, {"METRO", 1650, 382, 1268, 6}, {"METRO", 1750, 280, 1470, 4},
};

// Taps the tariff does not divide: they count toward the total only.
constexpr Fare otherFares[] = {
    {"METRO", 250, 0, 0, 2}, {"BUS", 800, 0, 0, 2}, {"TAXI", 1650, 0, 0, 1},
    {"bus", 500, 0, 0, 1},   {"BUS", -1250, 0, 0, 1},
};

constexpr std::size_t writeChunk = std::size_t{1} << 20;
constexpr long long defaultCount = 0;

const Fare& drawFare(std::mt19937_64& random, FareMix mix) {
    int tableWeight = 0;
    for (const Fare& f : tableFares) tableWeight += f.weight;
    int otherWeight = 0;
    if (mix == FareMix::Any)
        for (const Fare& f : otherFares) otherWeight += f.weight;
    auto pick = static_cast<int>(random() % static_cast<unsigned>(tableWeight + otherWeight));
    for (const Fare& f : tableFares) {
        if (pick < f.weight) return f;
        pick -= f.weight;
    }
    for (const Fare& f : otherFares) {
        if (pick < f.weight) return f;
        pick -= f.weight;
    }
    return tableFares[0];
}

void putNumber(std::string& out, long long value, int width) {
    char digits[24];
    int n = std::snprintf(digits, sizeof digits, "%0*lld", width, value);
    out.append(digits, static_cast<std::size_t>(n));
}

}  // namespace

void generateRecords(std::mt19937_64& random, FareMix mix, long long first, long long count,
                     const std::string& date, std::string& out, FareSums& sums) {
    for (long long i = first; i < first + count; ++i) {
        const Fare& fare = drawFare(random, mix);
        long long amount = fare.amount;
        long long bus = fare.bus;
        long long metro = fare.metro;
        if (amount == 0) {
            amount = 100 + 10 * static_cast<long long>(random() % 61);
            bus = amount;
        }
        // id: the date and a time of day from 05:00 on, then the carrier, a
        // stop code, the amount and a card number.
        long long minute = 300 + i / 1024 % 1140;
        out += date;
        putNumber(out, minute / 60 * 100 + minute % 60, 4);
        out += ' ';
        out += fare.carrier;
        out += ' ';
        putNumber(out, static_cast<long long>(random() % 10000), 4);
        out += ' ';
        putNumber(out, amount, 0);
        out += " C";
        putNumber(out, static_cast<long long>(random() % 1000000), 6);
        out += '\n';
        ++sums.records;
        sums.total += amount;
        sums.bus += bus;
        sums.metro += metro;
    }
}

int peerGenerate(const std::string& dir, const Args& args) {
    long long count = defaultCount;
    std::int64_t seed = 1;
    FareMix mix = FareMix::Table;
    bool printSums = false;
    bool haveCount = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::int64_t value = 0;
        if (a == "--seed" || a == "--mix") {
            if (i + 1 >= args.size()) return peerError(peerBadInput, peerMissing, "generate", (a + " value").c_str());
            const std::string& v = args[++i];
            if (a == "--mix") {
                if (v != "table" && v != "any") return peerError(peerBadInput, peerBadMix, v.c_str());
                mix = v == "any" ? FareMix::Any : FareMix::Table;
            } else if (!parseWhole(v, seed)) {
                return peerError(peerBadInput, peerNotNumber, "generate", "seed", v.c_str(), "");
            }
        } else if (a == "--print-sums") {
            printSums = true;
        } else if (a.rfind("--", 0) == 0) {
            return peerError(peerBadInput, peerUnknownOption, "generate", a.c_str());
        } else if (haveCount) {
            return peerError(peerBadInput, peerTooMany, "generate", a.c_str());
        } else {
            if (!parseWhole(a, value) || value < 0 || value > 10'000'000'000LL)
                return peerError(peerBadInput, peerNotNumber, "generate", "N", a.c_str(), " from 0 to 10000000000");
            count = value;
            haveCount = true;
        }
    }
    if (!haveCount) return peerError(peerBadInput, peerMissing, "generate", "N");

    std::mt19937_64 random(static_cast<std::uint64_t>(seed));
    std::string date = today();
    std::string path = exchangeFile(dir, accumulatedPath);
    FareSums sums{0, 0, 0, 0};
    std::string chunk;
    chunk.reserve(writeChunk + 256);
    bool showProgress = ::isatty(2) != 0;
    auto start = std::chrono::steady_clock::now();
    auto lastShown = start;
    bool shown = false;
    for (long long done = 0; done < count;) {
        long long batch = std::min<long long>(count - done, 16384);
        chunk.clear();
        generateRecords(random, mix, done, batch, date, chunk, sums);
        if (!appendRecords(path, chunk.data(), chunk.size()))
            return peerError(peerFailed, peerWriteFailed, path.c_str(), std::strerror(errno));
        done += batch;
        auto now = std::chrono::steady_clock::now();
        if (showProgress && now - start > std::chrono::seconds(1) &&
            (now - lastShown > std::chrono::milliseconds(200) || done == count)) {
            std::fprintf(stderr, peerProgress, done, count, static_cast<int>(100 * done / count));
            lastShown = now;
            shown = true;
        }
    }
    if (shown) std::fputc('\n', stderr);
    std::printf(peerGenerated, count);
    if (printSums) std::printf(peerSums, sums.records, sums.total, sums.bus, sums.metro);
    return peerOk;
}
