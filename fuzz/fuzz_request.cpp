// libFuzzer target: the trigger and date readers, fed arbitrary bytes split
// at a point the first byte chooses. Each must match a plain reference and
// give the same answer however the bytes are split.
#include "exchange/scan.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

// White space, an optional sign, digits; the value clamped to 64 bits.
bool referenceTrigger(const std::string& s, std::int64_t& value) {
    std::size_t at = 0;
    while (at < s.size() && isWhiteSpace(static_cast<unsigned char>(s[at]))) ++at;
    bool negative = false;
    if (at < s.size() && (s[at] == '+' || s[at] == '-')) negative = s[at++] == '-';
    if (at >= s.size() || !isDigit(static_cast<unsigned char>(s[at]))) return false;
    __int128 v = 0;
    const __int128 cap = static_cast<__int128>(std::numeric_limits<std::int64_t>::max()) + 1;
    for (; at < s.size() && isDigit(static_cast<unsigned char>(s[at])); ++at) v = std::min<__int128>(v * 10 + (s[at] - '0'), cap);
    if (negative) v = -v;
    v = std::max<__int128>(std::min<__int128>(v, std::numeric_limits<std::int64_t>::max()),
                           std::numeric_limits<std::int64_t>::min());
    value = static_cast<std::int64_t>(v);
    return true;
}

std::string referenceDate(const std::string& s) {
    std::size_t at = 0;
    while (at < s.size() && isWhiteSpace(static_cast<unsigned char>(s[at]))) ++at;
    std::string token;
    while (at < s.size() && !isWhiteSpace(static_cast<unsigned char>(s[at])) && token.size() < 8) token += s[at++];
    return token;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::size_t split = input.empty() ? 0 : data[0] % (input.size() + 1);

    TriggerScan trigger{};
    scanTrigger(trigger, input.data(), split);
    scanTrigger(trigger, input.data() + split, input.size() - split);
    std::int64_t value = 7, expected = 7;
    check(triggerValue(trigger, value) == referenceTrigger(input, expected));
    check(value == expected);

    DateScan date{};
    scanDate(date, input.data(), split);
    scanDate(date, input.data() + split, input.size() - split);
    check(date.length <= 8);
    check(std::string(date.token, date.length) == referenceDate(input));
    return 0;
}
