// The trigger and date readers, through real files in a fresh exchange
// directory.
#include "exchange/exchange.h"
#include "exchange/request.h"
#include "support.h"
#include "text/text.h"

#include <limits>
#include <string>

namespace {

using RequestFiles = ExchangeTest;

}  // namespace

TEST_F(RequestFiles, TriggerReadsALeadingNumberOrKeepsTheLastValue) {
    struct Case {
        std::string content;
        std::int64_t expected;  // the value before the read is 7
    } cases[] = {
        {"1", 1},
        {"0", 0},
        {"2", 2},
        {"-1", -1},
        {"01", 1},
        {"+1", 1},
        {" \n\t\r\n 1", 1},
        {"1abc", 1},
        {"1\n", 1},
        {"", 7},
        {"word", 7},
        {"+", 7},
        {"+ 1", 7},
        {"- 1", 7},
        {"x1", 7},
        {"4294967297", 4294967297LL},
        {"1000000000000000000000000000000", std::numeric_limits<std::int64_t>::max()},
        {"-1000000000000000000000000000000", std::numeric_limits<std::int64_t>::min()},
        {std::string(100000, ' ') + "1", 1},
        {std::string("\0" "1", 2), 7},
    };
    for (const auto& c : cases) {
        writeFile(path("AccountTrigger.txt"), c.content);
        std::int64_t trigger = 7;
        StdoutCapture capture = startCapture();
        getTrigger(trigger);
        EXPECT_TRUE(sameBytes(endCapture(capture), ""));
        EXPECT_EQ(trigger, c.expected) << hex(c.content.substr(0, 40));
    }
}

TEST_F(RequestFiles, MissingRequestFilesPrintSiteOneAndKeepOrClear) {
    std::int64_t trigger = 1;
    char date[9] = "20261208";
    StdoutCapture capture = startCapture();
    getTrigger(trigger);
    getDate(date);
    EXPECT_TRUE(sameBytes(endCapture(capture), line(openFailedRequest) + line(openFailedRequest)));
    EXPECT_EQ(trigger, 1);
    EXPECT_TRUE(sameBytes(std::string(date, 9), std::string(9, '\0')));
}

TEST_F(RequestFiles, DateIsTheFirstEightBytesOfTheFirstToken) {
    struct Case {
        std::string content;
        std::string date;  // all nine bytes
    } cases[] = {
        {"20261209", std::string("20261209\0", 9)},
        {"202612091", std::string("20261209\0", 9)},
        {"202612", std::string("202612\0\0\0", 9)},
        {"\n  20261209 20990101\n", std::string("20261209\0", 9)},
        {"a b", std::string("a\0\0\0\0\0\0\0\0", 9)},
        {" \t\n", std::string(9, '\0')},
        {"", std::string(9, '\0')},
        {std::string(3 << 20, 'Z'), std::string("ZZZZZZZZ\0", 9)},
        {std::string(50000, '\n') + "1999", std::string("1999\0\0\0\0\0", 9)},
        {std::string(16, '\0'), std::string(9, '\0')},
        {std::string("ab\0cd", 5), std::string("ab\0cd\0\0\0\0", 9)},
    };
    for (const auto& c : cases) {
        writeFile(path("Time.txt"), c.content);
        char date[9] = "XXXXXXXX";
        StdoutCapture capture = startCapture();
        getDate(date);
        EXPECT_TRUE(sameBytes(endCapture(capture), ""));
        EXPECT_TRUE(sameBytes(std::string(date, 9), c.date)) << hex(c.content.substr(0, 20));
    }
}

TEST_F(RequestFiles, EveryPrefixOfAValidTimeFileReadsAPrefixOfItsDate) {
    std::string content = "  20261209\n";
    for (std::size_t n = 0; n <= content.size(); ++n) {
        writeFile(path("Time.txt"), content.substr(0, n));
        char date[9] = {};
        getDate(date);
        std::string expected = n <= 2 ? "" : content.substr(2, std::min<std::size_t>(n - 2, 8));
        EXPECT_EQ(std::string(date), expected) << n;
    }
}
