// The record reader: field rules, out-of-step reading, cutting to room, and
// robustness against any split, prefix or length of input.
#include "exchange/scan.h"
#include "support.h"

#include <cstring>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Read {
    std::vector<FareRecord> records;
    std::int64_t count;
};

// Feeds `input` to the reader in pieces of at most `piece` bytes.
Read readRecords(std::string_view input, std::size_t piece = std::string_view::npos) {
    Read read;
    RecordScan scan;
    startRecords(scan, read.records);
    for (std::size_t at = 0; at < input.size(); at += piece)
        scanRecords(scan, input.data() + at, std::min(piece, input.size() - at));
    read.count = finishRecords(scan);
    return read;
}

// An independent count of white-space separated tokens.
std::int64_t plainTokens(const std::string& input) {
    std::istringstream in(input);
    std::string word;
    std::int64_t n = 0;
    while (in >> word) ++n;
    return n;
}

std::string text(const char* field, std::size_t room) { return std::string(field, strnlen(field, room)); }
std::string modeBytes(const FareRecord& r) { return std::string(r.mode, sizeof r.mode); }

bool sameRecord(const FareRecord& a, const FareRecord& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

::testing::AssertionResult sameTables(const Read& a, const Read& b) {
    if (a.count != b.count || a.records.size() != b.records.size())
        return ::testing::AssertionFailure() << "counts " << a.count << " and " << b.count;
    for (std::size_t i = 0; i < a.records.size(); ++i)
        if (!sameRecord(a.records[i], b.records[i]))
            return ::testing::AssertionFailure() << "record " << i << " differs";
    return ::testing::AssertionSuccess();
}

const std::string sample =
    "20261209083001 BUS 0001 1650 CARD001\n"
    "20261209083002\tMETRO 0002 300 CARD002\r\n"
    "  c3 METROX 03 -250 card3  c4 BUS\x00X 4 700 k4\n"
    "c5 BUS 5 12abc tail c6 METRO 6 word w6 c7 TAXI 7 +1 z";

}  // namespace

TEST(RecordScan, ReadsFiveFieldsPerRecordAcrossAnyWhiteSpace) {
    Read r = readRecords("a BUS c 1650 e\n\t f  METRO\r\nh 300 j\v\f");
    ASSERT_EQ(r.count, 2);
    EXPECT_EQ(text(r.records[0].token1, 13), "a");
    EXPECT_EQ(modeBytes(r.records[0]), std::string("BUS\0\0\0", 6));
    EXPECT_EQ(text(r.records[0].token3, 5), "c");
    EXPECT_EQ(r.records[0].amount, 1650);
    EXPECT_EQ(text(r.records[0].token5, 8), "e");
    EXPECT_EQ(text(r.records[1].token1, 13), "f");
    EXPECT_EQ(modeBytes(r.records[1]), std::string("METRO\0", 6));
    EXPECT_EQ(r.records[1].amount, 300);
    EXPECT_EQ(text(r.records[1].token5, 8), "j");
}

TEST(RecordScan, LeftoverTokensAreNeitherCountedNorKept) {
    EXPECT_EQ(readRecords("").count, 0);
    EXPECT_EQ(readRecords(" \n\t ").count, 0);
    Read r = readRecords("a BUS c 1650 e f g");
    ASSERT_EQ(r.count, 1);
    EXPECT_EQ(r.records.size(), 1u);
    EXPECT_EQ(readRecords("a b c d").count, 0);
}

TEST(RecordScan, AWordForAnAmountPutsLaterRecordsOutOfStep) {
    // The word becomes the first record's last field, and the second record
    // starts with what was meant as the first one's last field.
    Read r = readRecords("a BUS c word e f METRO h 300 j");
    ASSERT_EQ(r.count, 2);
    EXPECT_EQ(r.records[0].amount, 0);
    EXPECT_EQ(text(r.records[0].token5, 8), "word");
    EXPECT_EQ(text(r.records[1].token1, 13), "e");
    EXPECT_EQ(modeBytes(r.records[1]), std::string("f\0\0\0\0\0", 6));
    EXPECT_EQ(text(r.records[1].token3, 5), "METR");
    EXPECT_EQ(r.records[1].amount, 0);  // "h" is no number
    EXPECT_EQ(text(r.records[1].token5, 8), "h");
}

TEST(RecordScan, LettersAfterAnAmountBecomeTheLastField) {
    Read r = readRecords("a BUS c 12abc e f METRO h 300 j");
    ASSERT_EQ(r.count, 2);
    EXPECT_EQ(r.records[0].amount, 12);
    EXPECT_EQ(text(r.records[0].token5, 8), "abc");
    EXPECT_EQ(text(r.records[1].token1, 13), "e");
    EXPECT_EQ(r.records[1].amount, 0);
}

TEST(RecordScan, SignsAndNumbersOutsideTheUsualRange) {
    struct Case {
        const char* amount;
        std::int64_t value;
        const char* last;
    } cases[] = {
        {"-250 e", -250, "e"},
        {"+7 e", 7, "e"},
        {"+ e", 0, "+"},
        {"-x e", 0, "-x"},
        {"00042 e", 42, "e"},
        {"4294967296 e", 4294967296LL, "e"},
        {"99999999999999999999999 e", std::numeric_limits<std::int64_t>::max(), "e"},
        {"-9223372036854775808 e", std::numeric_limits<std::int64_t>::min(), "e"},
        {"-99999999999999999999999 e", std::numeric_limits<std::int64_t>::min(), "e"},
    };
    for (const Case& c : cases) {
        Read r = readRecords(std::string("a BUS c ") + c.amount);
        ASSERT_EQ(r.count, 1) << c.amount;
        EXPECT_EQ(r.records[0].amount, c.value) << c.amount;
        EXPECT_EQ(text(r.records[0].token5, 8), c.last) << c.amount;
    }
}

TEST(RecordScan, LongTokensAreCutToTheirRoomAndNeverSpill) {
    Read r = readRecords("ABCDEFGHIJKLMNOPQRST METROPOLIS 123456789 1650 ZYXWVUTSRQ next BUS x 1 y");
    ASSERT_EQ(r.count, 2);
    EXPECT_EQ(text(r.records[0].token1, 13), "ABCDEFGHIJKL");
    EXPECT_EQ(r.records[0].token1[12], '\0');
    EXPECT_EQ(text(r.records[0].mode, 5), "METRO");
    EXPECT_EQ(modeBytes(r.records[0]), "METROP");  // never equal to METRO
    EXPECT_EQ(text(r.records[0].token3, 5), "1234");
    EXPECT_EQ(r.records[0].amount, 1650);
    EXPECT_EQ(text(r.records[0].token5, 8), "ZYXWVUT");
    EXPECT_EQ(r.records[0].token5[7], '\0');
    EXPECT_EQ(text(r.records[1].token1, 13), "next");
}

TEST(RecordScan, AModeWithANulAnywhereReadsAsNoCarrier) {
    const std::string bus("BUS\0\0\0", 6), metro("METRO\0", 6);
    for (std::string mode : {std::string("BUS\0", 4), std::string("BUS\0X", 5), std::string("BU\0S", 4),
                             std::string("METRO\0", 6), std::string("BUS\0\0\0\0\0", 8), std::string("\0BUS", 4)}) {
        SCOPED_TRACE(hex(mode));
        // Read whole and, cut short by the end of the input, step by step.
        for (const std::string& input : {"a " + mode + " c 100 e\n" + std::string(80, ' '), "a " + mode + " c 100 e"}) {
            Read r = readRecords(input);
            ASSERT_EQ(r.count, 1);
            EXPECT_NE(modeBytes(r.records[0]), bus);
            EXPECT_NE(modeBytes(r.records[0]), metro);
        }
    }
    EXPECT_EQ(modeBytes(readRecords("a BUS c 100 e").records[0]), bus);
}

TEST(RecordScan, EverySplitOfTheInputReadsTheSame) {
    Read whole = readRecords(sample);
    ASSERT_EQ(whole.count, plainTokens(sample) / 5);
    for (std::size_t piece : {1, 2, 3, 7, 64}) EXPECT_TRUE(sameTables(readRecords(sample, piece), whole)) << piece;
    for (std::size_t at = 0; at <= sample.size(); ++at) {
        Read split;
        RecordScan scan;
        startRecords(scan, split.records);
        scanRecords(scan, sample.data(), at);
        scanRecords(scan, sample.data() + at, sample.size() - at);
        split.count = finishRecords(scan);
        ASSERT_TRUE(sameTables(split, whole)) << "split at " << at;
    }
}

TEST(RecordScan, EveryPrefixReadsWithoutHarm) {
    for (std::size_t n = 0; n <= sample.size(); ++n) {
        std::string prefix = sample.substr(0, n);
        Read r = readRecords(prefix);
        ASSERT_EQ(r.count, plainTokens(prefix) / 5) << "prefix of " << n;
        ASSERT_EQ(r.records.size(), static_cast<std::size_t>(r.count));
    }
}

TEST(RecordScan, OneHugeTokenIsOneToken) {
    std::string huge(20 << 20, 'x');
    Read r = readRecords("a BUS c 1650 " + huge + " f METRO h 300 j", 1 << 20);
    ASSERT_EQ(r.count, 2);
    EXPECT_EQ(text(r.records[0].token5, 8), "xxxxxxx");
    EXPECT_EQ(text(r.records[1].token1, 13), "f");
    EXPECT_EQ(r.records[1].amount, 300);
    std::string digits(5 << 20, '9');
    Read big = readRecords("a BUS c " + digits + " e");
    ASSERT_EQ(big.count, 1);
    EXPECT_EQ(big.records[0].amount, std::numeric_limits<std::int64_t>::max());
}

TEST(RecordScan, RandomBytesCountLikeAPlainTokenizer) {
    std::mt19937 random(20261209);
    const char alphabet[] = {' ', '\n', '\t', '\r', '\0', '+', '-', '1', '6', '5', '0', 'B', 'U', 'S', '\xC8', '\xFF'};
    for (int round = 0; round < 300; ++round) {
        std::string input(random() % 400, ' ');
        for (char& c : input) c = alphabet[random() % sizeof alphabet];
        Read r = readRecords(input, 1 + random() % 50);
        ASSERT_EQ(r.count, plainTokens(input) / 5) << hex(input);
        for (const FareRecord& rec : r.records) {
            ASSERT_EQ(rec.token1[12], '\0');
            ASSERT_EQ(rec.token3[4], '\0');
            ASSERT_EQ(rec.token5[7], '\0');
        }
    }
}

// Ordinary records are read whole when the block holds enough of them, and
// step by step near a block's end; both must give the same table for
// records of every shape, ordinary or not.
TEST(RecordScan, RecordsReadWholeOrStepByStepAreTheSame) {
    std::mt19937 random(1209);
    auto pick = [&](std::initializer_list<const char*> choices) {
        return std::string(choices.begin()[random() % choices.size()]);
    };
    auto word = [&](std::size_t longest) {
        std::string w(1 + random() % longest, 'x');
        for (char& c : w) c = "AZaz09\xC8\xFF\0-+"[random() % 11];
        return w;
    };
    for (int round = 0; round < 200; ++round) {
        std::string input;
        for (int record = 0; record < 40; ++record) {
            std::string gap = pick({" ", " ", " ", "\t", "\r\n", "   ", std::string(20, ' ').c_str()});
            input += word(20) + gap + pick({"BUS", "METRO", "BUSES", "METROX", "BU"}) + gap + word(6) + gap;
            input += pick({"1650", "300", "0001250", "12345678", "123456789", "-250", "+1", "12abc", "word",
                           "99999999999999999999"});
            input += gap + word(10) + pick({"\n", " ", "\n\n"});
        }
        Read whole = readRecords(input);
        ASSERT_EQ(whole.count, plainTokens(input) / 5) << hex(input);
        ASSERT_TRUE(sameTables(whole, readRecords(input, 1))) << hex(input);
    }
}

// Reads `input` as a settlement does, a block at a time, the ready records
// taken off the front, with the second pass where the first one asks for
// it; `largest` is the most records the table ever held.
Read streamed(const std::string& input, std::size_t block, std::size_t& largest, bool& twice) {
    Read read;
    std::vector<FareRecord> table;
    RecordScan scan;
    startRecords(scan, table);
    largest = 0;
    auto take = [&](std::size_t n) {
        largest = std::max(largest, table.size());
        read.records.insert(read.records.end(), table.begin(), table.begin() + static_cast<std::ptrdiff_t>(n));
        dropRecords(scan, n);
    };
    for (std::size_t at = 0; at < input.size(); at += block) {
        scanRecords(scan, input.data() + at, std::min(block, input.size() - at));
        take(readyRecords(scan));
    }
    read.count = finishRecords(scan);
    take(table.size());
    twice = needsSecondPass(scan, read.count);
    if (twice) {
        startSecondPass(scan, read.count);
        for (std::size_t at = 0; at < input.size() && !secondPassDone(scan); at += block) {
            scanRecords(scan, input.data() + at, std::min(block, input.size() - at));
            take(readyRecords(scan));
        }
        finishRecords(scan);
        take(table.size());
    }
    return read;
}

TEST(RecordScan, RecordsThatOutrunTheCountAreReadAgainRatherThanKept) {
    // Four tokens a record (the amount is a word) and then ordinary ones:
    // the count ends in the middle of what a first pass completed, in the
    // middle of the words, or exactly where the first pass stopped keeping.
    const std::string words = [] {
        std::string s;
        for (int i = 0; i < 200000; ++i) s += "t" + std::to_string(i % 97) + " BUS s w\n";
        return s;
    }();
    std::string plain;
    for (int i = 0; i < 3000; ++i) plain += "a METRO c 1250 e\n";
    const std::size_t block = 1 << 16;
    const std::pair<std::string, bool> inputs[] = {
        {words, true}, {words + plain, true}, {plain + words + "x y", true}, {words.substr(0, 330000), false}};
    for (const auto& [input, readTwice] : inputs) {
        Read whole = readRecords(input);
        std::size_t largest = 0;
        bool twice = false;
        Read read = streamed(input, block, largest, twice);
        ASSERT_TRUE(sameTables(read, whole)) << input.size() << " bytes";
        EXPECT_LE(largest, surplusRoom + block / 8 + 1) << input.size() << " bytes";
        EXPECT_EQ(twice, readTwice) << input.size() << " bytes";
    }
    // Ordinary records are read once.
    std::size_t largest = 0;
    bool twice = true;
    Read once = streamed(plain + plain, block, largest, twice);
    EXPECT_EQ(once.count, 6000);
    EXPECT_FALSE(twice);
}
