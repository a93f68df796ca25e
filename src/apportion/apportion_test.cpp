// The fare table: which amounts are divided, and how.
#include "apportion/apportion.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

FareRecord record(const std::string& mode, std::int64_t amount) {
    FareRecord r{};
    std::memcpy(r.mode, mode.data(), std::min(mode.size(), sizeof r.mode));
    r.amount = amount;
    return r;
}

struct Shares {
    std::int64_t bus;
    std::int64_t metro;
};

Shares apportion(const std::vector<FareRecord>& records) {
    Shares s{0, 0};
    Account(records, s.bus, s.metro, static_cast<std::int64_t>(records.size()));
    return s;
}

}  // namespace

TEST(Account, EachSingleFareDividesAsTheTableSays) {
    struct Case {
        const char* mode;
        std::int64_t amount;
        std::int64_t bus;
        std::int64_t metro;
    } cases[] = {
        {"BUS", 100, 100, 0},     {"BUS", 700, 700, 0},       {"BUS", 300, 300, 0},
        {"BUS", 600, 600, 0},     {"BUS", 99, 0, 0},          {"BUS", 701, 0, 0},
        {"BUS", 800, 0, 0},       {"BUS", 1050, 1050, 0},     {"BUS", 1250, 1050, 200},
        {"BUS", 1650, 1268, 382}, {"BUS", 1750, 1470, 280},   {"BUS", 0, 0, 0},
        {"BUS", -1650, 0, 0},     {"METRO", 200, 0, 200},     {"METRO", 300, -459, 759},
        {"METRO", 600, -408, 1008}, {"METRO", 1050, 0, 1050}, {"METRO", 1250, 200, 1050},
        {"METRO", 1650, 382, 1268}, {"METRO", 1750, 280, 1470}, {"METRO", 250, 0, 0},
        {"METRO", 100, 0, 0},     {"bus", 500, 0, 0},         {"", 500, 0, 0},
        {"TAXI", 1650, 0, 0},     {"METROP", 1650, 0, 0},
        {"BUS", 4294967396LL, 0, 0}, {"BUS", 1800, 0, 0},    {"METRO", 1700, 0, 0},
        {"METRO", -300, 0, 0},       {"BUS", -50, 0, 0},
        {"METRO", std::numeric_limits<std::int64_t>::min(), 0, 0},
        {"BUS", std::numeric_limits<std::int64_t>::max(), 0, 0},
    };
    for (const Case& c : cases) {
        Shares s = apportion({record(c.mode, c.amount)});
        EXPECT_EQ(s.bus, c.bus) << c.mode << " " << c.amount;
        EXPECT_EQ(s.metro, c.metro) << c.mode << " " << c.amount;
    }
}

TEST(Account, AModeWithBytesAfterANulMatchesNothing) {
    FareRecord r{};
    std::memcpy(r.mode, "BUS\0X", 5);
    r.amount = 500;
    Shares s = apportion({r});
    EXPECT_EQ(s.bus, 0);
    EXPECT_EQ(s.metro, 0);
}

TEST(Account, SumsAddUpAndOrderDoesNotMatter) {
    EXPECT_EQ(apportion({}).bus, 0);
    std::vector<FareRecord> records = {record("BUS", 100), record("METRO", 300)};
    Shares s = apportion(records);
    EXPECT_EQ(s.bus, -359);
    EXPECT_EQ(s.metro, 759);
    std::vector<FareRecord> mixed = {record("METRO", 1650), record("BUS", 1250), record("METRO", 600),
                                     record("BUS", 450),    record("BUS", 1750), record("METRO", 200)};
    Shares forward = apportion(mixed);
    std::vector<FareRecord> backward(mixed.rbegin(), mixed.rend());
    Shares reverse = apportion(backward);
    EXPECT_EQ(forward.bus, reverse.bus);
    EXPECT_EQ(forward.metro, reverse.metro);
    EXPECT_EQ(forward.bus + forward.metro, 1650 + 1250 + 600 + 450 + 1750 + 200);
}

TEST(Account, CityScaleSumsDoNotWrap) {
    std::vector<FareRecord> records(2'000'000, record("BUS", 1250));
    Shares s = apportion(records);
    EXPECT_EQ(s.bus, 2'100'000'000);
    EXPECT_EQ(s.metro, 400'000'000);
    records.assign(2'000'000, record("BUS", 1750));
    EXPECT_EQ(apportion(records).bus, 2'940'000'000LL);
}
