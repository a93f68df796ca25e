// The reading rules of Accumulated.txt written out plainly, a byte and a
// token at a time, for clarity rather than speed: what fare-peer check
// reports by, and what the settlement's fast reader (scan.h) is tested and
// fuzzed against.
//
// Tokens are separated by white space. Five fields make a record, in the
// order of FareRecord: three texts, an amount, a text. A text keeps the
// first bytes of its token that its field has room for. The amount takes
// an optional sign and the digits after it: when no digit follows, it takes
// nothing and the whole token goes to the last field; when other bytes
// follow the digits, they go to the last field. Either way the record ends
// with that token, four tokens long, and the records after it are read one
// token further on: out of step. Whatever the records, only the first
// tokens / 5 of them count, which is known at the end.
#pragma once

#include "exchange/exchange.h"
#include "exchange/scan.h"

#include <cstddef>
#include <cstdint>
#include <functional>

inline constexpr std::size_t tokenHeadRoom = 24;

// What a token read as an amount was.
enum class AmountShape : unsigned char {
    Number,    // a number, and nothing else
    Lettered,  // a number with other bytes behind it, which end the record
    Word,      // no number: the whole token ends the record
};

// One whole token, where it is and where it went.
struct RulesToken {
    std::int64_t offset;  // of its first byte, in the bytes read
    std::int64_t line;    // 1-based
    std::int64_t length;
    std::int64_t index;   // 0-based, among all tokens
    std::int64_t record;  // 0-based index of the record it is read into
    int field;            // 0 to 4, in FareRecord order
    AmountShape shape;    // when `field` is the amount's
    bool control;         // a control byte other than white space inside
    char head[tokenHeadRoom];  // its first bytes
};

// Told of every token once it is whole, and of every record once it is,
// in the order they end (a record after its last token); records past the
// count are told too.
struct RulesEvents {
    std::function<void(const RulesToken&)> token;
    std::function<void(const FareRecord&, std::int64_t index)> record;
};

enum class AmountStep : unsigned char { Start, Sign, Digits, Rest };

struct RulesReader {
    std::int64_t offset;
    std::int64_t line;
    std::int64_t tokens;
    std::int64_t records;
    int field;
    bool inToken;
    RulesToken token;
    FareRecord record;
    std::size_t textLength;  // bytes of the current field's text so far
    AmountStep amount;       // where the amount's token is, when in field 3
    char sign;
    NumberScan number;
};

void startRules(RulesReader& reader);
// Reads the next bytes of the input; a token may go on in the next call.
void readByRules(RulesReader& reader, const char* data, std::size_t size, const RulesEvents& events);
// Ends the input: a token under way is whole, a record under way complete.
void endRules(RulesReader& reader, const RulesEvents& events);
