#include "exchange/rules.h"

#include <cstring>

namespace {

char* textOf(FareRecord& record, int field) {
    switch (field) {
    case 0:
        return record.token1;
    case 1:
        return record.mode;
    case 2:
        return record.token3;
    default:
        return record.token5;
    }
}

// The last field's text, from where an amount that was no plain number
// handed over the rest of its token.
void putText(RulesReader& reader, unsigned char c) {
    int field = reader.amount == AmountStep::Rest ? 4 : reader.field;
    if (reader.textLength < fareFields[field].kept) textOf(reader.record, field)[reader.textLength] = static_cast<char>(c);
    ++reader.textLength;
}

void toRest(RulesReader& reader, AmountShape shape) {
    reader.amount = AmountStep::Rest;
    reader.token.shape = shape;
    reader.textLength = 0;
}

void putAmountByte(RulesReader& reader, unsigned char c) {
    switch (reader.amount) {
    case AmountStep::Start:
        if (c == '+' || c == '-') {
            reader.sign = static_cast<char>(c);
            reader.number.negative = c == '-';
            reader.amount = AmountStep::Sign;
        } else if (isDigit(c)) {
            addDigit(reader.number, c);
            reader.amount = AmountStep::Digits;
        } else {
            toRest(reader, AmountShape::Word);
            putText(reader, c);
        }
        break;
    case AmountStep::Sign:
        if (isDigit(c)) {
            addDigit(reader.number, c);
            reader.amount = AmountStep::Digits;
        } else {
            // A lone sign is no number: the whole token goes on.
            toRest(reader, AmountShape::Word);
            putText(reader, static_cast<unsigned char>(reader.sign));
            putText(reader, c);
        }
        break;
    case AmountStep::Digits:
        if (isDigit(c)) {
            addDigit(reader.number, c);
        } else {
            reader.record.amount = numberValue(reader.number);
            toRest(reader, AmountShape::Lettered);
            putText(reader, c);
        }
        break;
    case AmountStep::Rest:
        putText(reader, c);
        break;
    }
}

void beginToken(RulesReader& reader) {
    reader.inToken = true;
    RulesToken& t = reader.token;
    t = RulesToken{};
    t.offset = reader.offset;
    t.line = reader.line;
    t.index = reader.tokens;
    t.record = reader.records;
    t.field = reader.field;
    t.shape = AmountShape::Number;
    reader.textLength = 0;
    reader.amount = AmountStep::Start;
    reader.number = NumberScan{0, false};
}

void putByte(RulesReader& reader, unsigned char c) {
    RulesToken& t = reader.token;
    if (t.length < static_cast<std::int64_t>(tokenHeadRoom)) t.head[t.length] = static_cast<char>(c);
    ++t.length;
    if (c < 0x20 || c == 0x7f) t.control = true;  // white space never reaches here
    if (reader.field == static_cast<int>(amountField))
        putAmountByte(reader, c);
    else
        putText(reader, c);
}

void endRecord(RulesReader& reader, const RulesEvents& events) {
    if (events.record) events.record(reader.record, reader.records);
    ++reader.records;
    reader.record = FareRecord{};
    reader.field = 0;
}

void endToken(RulesReader& reader, const RulesEvents& events) {
    reader.inToken = false;
    ++reader.tokens;
    bool amount = reader.field == static_cast<int>(amountField);
    if (amount && reader.amount == AmountStep::Sign) {
        toRest(reader, AmountShape::Word);
        putText(reader, static_cast<unsigned char>(reader.sign));
    }
    if (amount && reader.amount == AmountStep::Digits) reader.record.amount = numberValue(reader.number);
    if (reader.field == 1) sealMode(reader.record, static_cast<std::size_t>(reader.token.length));
    if (events.token) events.token(reader.token);
    // A record ends with its fifth field, or with an amount that handed the
    // rest of its token to the fifth.
    if (reader.field == 4 || (amount && reader.amount == AmountStep::Rest))
        endRecord(reader, events);
    else
        ++reader.field;
}

}  // namespace

void startRules(RulesReader& reader) {
    reader = RulesReader{};
    reader.line = 1;
}

void readByRules(RulesReader& reader, const char* data, std::size_t size, const RulesEvents& events) {
    for (std::size_t i = 0; i < size; ++i, ++reader.offset) {
        auto c = static_cast<unsigned char>(data[i]);
        if (isWhiteSpace(c)) {
            if (reader.inToken) endToken(reader, events);
            if (c == '\n') ++reader.line;
            continue;
        }
        if (!reader.inToken) beginToken(reader);
        putByte(reader, c);
    }
}

void endRules(RulesReader& reader, const RulesEvents& events) {
    if (reader.inToken) endToken(reader, events);
    if (reader.field > 0) endRecord(reader, events);
}
