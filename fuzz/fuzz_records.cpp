// libFuzzer target: the record reader, fed arbitrary bytes. The first byte
// chooses where the input is split across two blocks.
//
// Properties: the count is the number of white-space separated tokens
// divided by 5; every text field is terminated within its room; the table
// equals what the reading rules written plainly (exchange/rules.h) make of
// it; and reading in one block, in two, or in small blocks with the counted
// records taken off the front, gives the same records and the same total.
#include "exchange/rules.h"
#include "exchange/scan.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

// The reading rules, written plainly (exchange/rules.h), over the whole
// input: the records that count, and the tokens.
std::vector<FareRecord> reference(const std::string& s, std::int64_t& tokens) {
    std::vector<FareRecord> out;
    RulesReader reader;
    startRules(reader);
    const RulesEvents events{nullptr, [&out](const FareRecord& r, std::int64_t) { out.push_back(r); }};
    readByRules(reader, s.data(), s.size(), events);
    endRules(reader, events);
    tokens = reader.tokens;
    out.resize(std::min(out.size(), static_cast<std::size_t>(tokens / 5)));
    return out;
}

struct Read {
    std::vector<FareRecord> records;
    std::int64_t count;
    std::uint64_t total;  // wraps, defined, for comparing only
};

// Reads in blocks of `block` bytes, taking counted records off the front as
// the settlement does; the taken ones are kept aside to compare.
Read streamed(const std::string& s, std::size_t block) {
    Read read{{}, 0, 0};
    std::vector<FareRecord> table;
    RecordScan scan;
    startRecords(scan, table);
    auto take = [&](std::size_t n) {
        read.records.insert(read.records.end(), table.begin(), table.begin() + static_cast<std::ptrdiff_t>(n));
        dropRecords(scan, n);
    };
    for (std::size_t at = 0; at < s.size(); at += block) {
        scanRecords(scan, s.data() + at, std::min(block, s.size() - at));
        take(readyRecords(scan));
    }
    read.count = finishRecords(scan);
    take(table.size());
    if (needsSecondPass(scan, read.count)) {
        startSecondPass(scan, read.count);
        for (std::size_t at = 0; at < s.size() && !secondPassDone(scan); at += block) {
            scanRecords(scan, s.data() + at, std::min(block, s.size() - at));
            take(readyRecords(scan));
        }
        finishRecords(scan);
        take(table.size());
    }
    for (const FareRecord& r : read.records) read.total += static_cast<std::uint64_t>(r.amount);
    return read;
}

bool same(const std::vector<FareRecord>& a, const std::vector<FareRecord>& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof a[0]) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::size_t split = input.empty() ? 0 : data[0] % (input.size() + 1);

    Read whole = streamed(input, input.size() + 1);
    std::int64_t tokens = 0;
    std::vector<FareRecord> plain = reference(input, tokens);
    check(whole.count == tokens / 5);
    check(static_cast<std::int64_t>(whole.records.size()) == whole.count);
    for (const FareRecord& r : whole.records) check(r.token1[12] == 0 && r.token3[4] == 0 && r.token5[7] == 0);
    check(same(whole.records, plain));

    std::vector<FareRecord> table;
    RecordScan scan;
    startRecords(scan, table);
    scanRecords(scan, input.data(), split);
    scanRecords(scan, input.data() + split, input.size() - split);
    check(finishRecords(scan) == whole.count);
    check(same(table, whole.records));

    Read small = streamed(input, 1 + data[0] % 7);
    check(small.count == whole.count && small.total == whole.total && same(small.records, whole.records));
    return 0;
}
