// The reading rules written plainly: where each token lands and what the
// amount makes of it, every prefix and one huge token without harm, and the
// same records as the settlement's fast reader on inputs of every shape.
#include "exchange/rules.h"
#include "exchange/scan.h"
#include "support.h"

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

struct RulesRead {
    std::vector<RulesToken> tokens;
    std::vector<FareRecord> records;  // every record, counted or not
    std::int64_t tokenCount = 0;
};

RulesRead readPlainly(std::string_view input, std::size_t piece = std::string_view::npos) {
    RulesRead read;
    RulesReader reader;
    startRules(reader);
    const RulesEvents events{[&read](const RulesToken& t) { read.tokens.push_back(t); },
                             [&read](const FareRecord& r, std::int64_t) { read.records.push_back(r); }};
    for (std::size_t at = 0; at < input.size(); at += piece)
        readByRules(reader, input.data() + at, std::min(piece, input.size() - at), events);
    endRules(reader, events);
    read.tokenCount = reader.tokens;
    return read;
}

std::vector<FareRecord> fastRecords(std::string_view input, std::size_t piece) {
    std::vector<FareRecord> records;
    RecordScan scan;
    startRecords(scan, records);
    for (std::size_t at = 0; at < input.size(); at += piece)
        scanRecords(scan, input.data() + at, std::min(piece, input.size() - at));
    finishRecords(scan);
    return records;
}

std::string field(const char* text, std::size_t room) { return std::string(text, strnlen(text, room)); }

}  // namespace

TEST(ReadingRules, EachTokenKnowsItsPlaceItsFieldAndItsRecord) {
    RulesRead r = readPlainly("a BUS c 12x\n  d METRO\te 300 f\ng");
    ASSERT_EQ(r.tokens.size(), 10u);
    const struct {
        std::int64_t offset, line, record;
        int field;
    } want[] = {{0, 1, 0, 0},  {2, 1, 0, 1},  {6, 1, 0, 2},  {8, 1, 0, 3},  {14, 2, 1, 0},
                {16, 2, 1, 1}, {22, 2, 1, 2}, {24, 2, 1, 3}, {28, 2, 1, 4}, {30, 3, 2, 0}};
    for (std::size_t i = 0; i < r.tokens.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(r.tokens[i].offset, want[i].offset);
        EXPECT_EQ(r.tokens[i].line, want[i].line);
        EXPECT_EQ(r.tokens[i].record, want[i].record);
        EXPECT_EQ(r.tokens[i].field, want[i].field);
        EXPECT_EQ(r.tokens[i].index, static_cast<std::int64_t>(i));
    }
    EXPECT_EQ(r.tokens[3].shape, AmountShape::Lettered);
    EXPECT_EQ(r.tokens[7].shape, AmountShape::Number);
    // The last record is under way at the end: it is told, though a
    // settlement would not count it (10 tokens make 2 records).
    ASSERT_EQ(r.records.size(), 3u);
    EXPECT_EQ(r.records[0].amount, 12);
    EXPECT_EQ(field(r.records[0].token5, 8), "x");
    EXPECT_EQ(field(r.records[1].token1, 13), "d");
    EXPECT_EQ(r.records[1].amount, 300);
    EXPECT_EQ(field(r.records[2].token1, 13), "g");
}

TEST(ReadingRules, WhatAnAmountMakesOfItsToken) {
    const struct {
        const char* amount;
        AmountShape shape;
        std::int64_t value;
        const char* last;  // the record's last field
    } cases[] = {
        {"1650", AmountShape::Number, 1650, "e"},      {"+5", AmountShape::Number, 5, "e"},
        {"-250", AmountShape::Number, -250, "e"},      {"12abc", AmountShape::Lettered, 12, "abc"},
        {"-7x", AmountShape::Lettered, -7, "x"},       {"word", AmountShape::Word, 0, "word"},
        {"-x", AmountShape::Word, 0, "-x"},            {"+", AmountShape::Word, 0, "+"},
        {"99999999999999999999", AmountShape::Number, INT64_MAX, "e"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.amount);
        RulesRead r = readPlainly(std::string("a BUS c ") + c.amount + " e");
        ASSERT_GE(r.tokens.size(), 4u);
        EXPECT_EQ(r.tokens[3].shape, c.shape);
        ASSERT_FALSE(r.records.empty());
        EXPECT_EQ(r.records[0].amount, c.value);
        EXPECT_EQ(field(r.records[0].token5, 8), c.last);
        // A number alone leaves "e" to the record; anything else ends it, and
        // "e" starts the next.
        EXPECT_EQ(r.records.size(), c.shape == AmountShape::Number ? 1u : 2u);
    }
}

TEST(ReadingRules, EveryPrefixAndOneHugeTokenReadWithoutHarm) {
    const std::string input = "c1 BUS\x01 t 1650 k\nc2 METRO t -x k c3";
    for (std::size_t n = 0; n <= input.size(); ++n) {
        RulesRead r = readPlainly(input.substr(0, n), 1 + n % 3);
        ASSERT_EQ(r.tokenCount, static_cast<std::int64_t>(r.tokens.size())) << n;
    }
    EXPECT_TRUE(readPlainly(input).tokens[1].control);
    std::string huge(8 << 20, 'Z');
    RulesRead r = readPlainly("a " + huge + " c 1 e", 4096);
    ASSERT_EQ(r.tokens.size(), 5u);
    EXPECT_EQ(r.tokens[1].length, static_cast<std::int64_t>(huge.size()));
    EXPECT_EQ(std::string(r.tokens[1].head, tokenHeadRoom), std::string(tokenHeadRoom, 'Z'));
    EXPECT_EQ(std::string(r.records[0].mode, 6), "ZZZZZZ");
}

TEST(ReadingRules, GiveTheRecordsTheFastReaderGives) {
    // The fast reader tells only the counted records; the rules tell every
    // one, so the first tokens / 5 of them are compared.
    std::mt19937 random(20261211);
    auto word = [&](std::size_t longest) {
        std::string w(1 + random() % longest, 'x');
        for (char& c : w) c = "AZaz09\xC8\xFF\0-+\x01"[random() % 12];
        return w;
    };
    const char* blanks[] = {" ", "\n", "\t", "  ", "\r\n", "\v"};
    for (int round = 0; round < 300; ++round) {
        std::string input;
        int tokens = static_cast<int>(random() % 120);
        for (int t = 0; t < tokens; ++t) {
            std::size_t pick = random() % 4;
            input += pick == 0 ? std::to_string(static_cast<int>(random() % 4000) - 500)
                     : pick == 1 ? std::string(random() % 2 ? "BUS" : "METRO")
                                 : word(pick == 2 ? 20 : 3);
            input += blanks[random() % 6];
        }
        RulesRead plain = readPlainly(input, 1 + random() % 97);
        std::vector<FareRecord> fast = fastRecords(input, 1 + random() % 97);
        ASSERT_EQ(static_cast<std::int64_t>(fast.size()), plain.tokenCount / 5) << hex(input);
        ASSERT_GE(plain.records.size(), fast.size()) << hex(input);
        for (std::size_t i = 0; i < fast.size(); ++i)
            ASSERT_EQ(std::memcmp(&fast[i], &plain.records[i], sizeof fast[i]), 0) << "record " << i << " of " << hex(input);
    }
}
