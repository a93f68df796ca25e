// Reading the exchange files' text: white-space separated tokens and
// decimal numbers, fed in blocks of any size. A token may be split across
// blocks anywhere and may be of any length; nothing here ever writes past a
// field's room.
#pragma once

#include "exchange/exchange.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// The C locale's white space: blank, \t, \n, \v, \f, \r.
constexpr bool isWhiteSpace(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
constexpr bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }

// The first white space byte at or after p, or end.
const unsigned char* findWhiteSpace(const unsigned char* p, const unsigned char* end);
// Whether any byte in [p, end) is a control byte other than white space:
// NUL to 0x1F less \t to \r, and DEL.
bool hasControlBytes(const unsigned char* p, const unsigned char* end);

// A signed decimal number whose value saturates at the 64-bit bounds
// instead of wrapping.
struct NumberScan {
    std::uint64_t magnitude;
    bool negative;
};
void addDigit(NumberScan& number, unsigned char digit);
std::int64_t numberValue(const NumberScan& number);
// a + b, held at the 64-bit bounds rather than wrapped.
std::int64_t addSaturating(std::int64_t a, std::int64_t b);

// Gives `record.mode`, filled from a token of `length` bytes, a sixth byte
// that no carrier name has when a NUL is among its kept bytes.
void sealMode(FareRecord& record, std::size_t length);

// The trigger file's number: white space of any length, one optional sign,
// then digits up to the first byte that is not one. Fed in blocks; once
// `ended` is set, the rest of the file does not matter.
struct TriggerScan {
    NumberScan number;
    bool sign;
    bool digits;
    bool ended;
};
void scanTrigger(TriggerScan& scan, const char* data, std::size_t size);
// False when the file did not begin with a number: the request is unchanged.
bool triggerValue(const TriggerScan& scan, std::int64_t& value);

// The time file's first token, its first 8 bytes kept.
struct DateScan {
    char token[8];
    std::size_t length;
    bool ended;
};
void scanDate(DateScan& scan, const char* data, std::size_t size);

enum class RecordStep : unsigned char { Space, Text, Sign, Digits };

// Reads records as a formatted reader would, field by field: three texts,
// an integer, a text. An integer read that finds no number takes nothing,
// so the token goes to the following text field and the records after it
// are read one token out of step; a number with letters behind it leaves
// the letters to the next field. Meanwhile it counts the plain tokens, which
// alone decide how many records there are: tokens / 5, known for sure only
// at the end.
//
// Records are appended to the table as they complete. A caller that wants
// to keep memory flat takes the ones already known to be among the counted
// (readyRecords) and drops them from the front of the table.
//
// Records that take fewer tokens than five (an amount that is no number)
// complete faster than the count grows, and the ones past tokens / 5 must
// wait for the end to know whether they count. Rather than let them pile
// up, a first pass that finds more than `surplusRoom` of them waiting stops
// keeping any; once the end gives the count, a second pass over the same
// bytes hands out the rest (needsSecondPass, startSecondPass). Ordinary
// files never come near it and are read once.
inline constexpr std::size_t surplusRoom = std::size_t{1} << 14;

struct RecordScan {
    std::vector<FareRecord>* records;
    FareRecord current;
    NumberScan number;
    std::int64_t tokens;
    std::int64_t dropped;  // records taken from the front of the table
    std::int64_t known;    // the count, in a second pass; -1 in a first
    std::int64_t handFrom; // the first record that a first pass did not hand out
    bool overflowed;       // a first pass that stopped keeping records
    std::size_t length;    // bytes of the current text token so far
    int field;             // 0 to 4, in FareRecord order
    RecordStep step;
    char sign;
};

void startRecords(RecordScan& scan, std::vector<FareRecord>& records);
void scanRecords(RecordScan& scan, const char* data, std::size_t size);
// How many records at the front of the table are to be handed out now:
// surely counted (tokens only ever add up, so these stay counted whatever
// follows), and not handed out by a first pass.
std::size_t readyRecords(RecordScan& scan);
void dropRecords(RecordScan& scan, std::size_t count);
// Ends the input: the table keeps exactly the counted records still to be
// handed out, and the whole count, tokens / 5, is returned.
std::int64_t finishRecords(RecordScan& scan);
// Whether a first pass that stopped keeping records left some of the
// `count` counted ones to a second pass, which startSecondPass begins: the
// same bytes from their start, into the same table.
bool needsSecondPass(const RecordScan& scan, std::int64_t count);
void startSecondPass(RecordScan& scan, std::int64_t count);
// Whether a second pass has handed out every counted record, so that the
// rest of the bytes need not be read.
bool secondPassDone(const RecordScan& scan);
