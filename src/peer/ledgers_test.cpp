// Checking the three ledgers against each other.
#include "peer/peer.h"

#include <gtest/gtest.h>

namespace {

bool mentions(const LedgerCheck& check, const std::string& words) {
    for (const std::string& p : check.problems)
        if (p.find(words) != std::string::npos) return true;
    return false;
}

}  // namespace

TEST(Ledgers, AgreeingLedgersGiveOneRowPerSettlement) {
    LedgerCheck check = checkLedgers("20261209\t809\t1141\t1950\n\t-459\t759\t300\n",
                                     "20261209\t809\n\t-459\n", "20261209\t1141\n\t759\n");
    EXPECT_TRUE(check.problems.empty());
    ASSERT_EQ(check.rows.size(), 2u);
    EXPECT_EQ(check.rows[1].date, "");
    EXPECT_EQ(check.rows[1].bus, -459);
    EXPECT_EQ(check.rows[1].total, 300);
    EXPECT_TRUE(checkLedgers("", "", "").problems.empty());
}

TEST(Ledgers, EveryDisagreementIsNamed) {
    LedgerCheck counts = checkLedgers("d\t1\t2\t3\n", "", "d\t2\n");
    EXPECT_TRUE(mentions(counts, "different numbers of settlements")) << counts.problems.size();

    LedgerCheck value = checkLedgers("d\t1\t2\t3\n", "d\t5\n", "d\t2\n");
    EXPECT_TRUE(mentions(value, "BusAccount.txt line 1 says d 5, but Account.txt line 1 says d 1"));

    LedgerCheck date = checkLedgers("d\t1\t2\t3\n", "d\t1\n", "e\t2\n");
    EXPECT_TRUE(mentions(date, "MetroAccount.txt line 1 says e 2"));

    LedgerCheck torn = checkLedgers("d\t1\t2\t3\nd\t1\t2", "d\t1\nd\t1\n", "d\t2\nd\t2\n");
    EXPECT_TRUE(mentions(torn, "Account.txt line 2 has no line end"));

    LedgerCheck junk = checkLedgers("d\t1\tx\t3\n", "d\t1\t9\n", "d\t2\n");
    EXPECT_TRUE(mentions(junk, "Account.txt line 1 is not date, bus, metro, total"));
}
