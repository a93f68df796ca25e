#include "exchange/scan.h"

#include <limits>

namespace {

constexpr std::uint64_t magnitudeLimit = std::uint64_t{1} << 63;

// Room for each text field's bytes; `mode` keeps six (see FareRecord).
constexpr std::size_t textRoom[5] = {12, 6, 4, 0, 7};

char* fieldText(FareRecord& record, int field) {
    switch (field) {
    case 0: return record.token1;
    case 1: return record.mode;
    case 2: return record.token3;
    default: return record.token5;
    }
}

void putText(RecordScan& scan, unsigned char c) {
    if (scan.length < textRoom[scan.field])
        fieldText(scan.current, scan.field)[scan.length] = static_cast<char>(c);
    ++scan.length;
}

void beginText(RecordScan& scan, int field) {
    scan.field = field;
    scan.length = 0;
    scan.step = RecordStep::Text;
}

void endRecord(RecordScan& scan) {
    scan.records->push_back(scan.current);
    scan.current = FareRecord{};
    scan.field = 0;
    scan.step = RecordStep::Space;
}

void endText(RecordScan& scan) {
    if (scan.field == 4) {
        endRecord(scan);
        return;
    }
    ++scan.field;
    scan.step = RecordStep::Space;
}

void endNumber(RecordScan& scan) { scan.current.amount = numberValue(scan.number); }

}  // namespace

void addDigit(NumberScan& number, unsigned char digit) {
    unsigned d = digit - '0';
    if (number.magnitude > (magnitudeLimit - d) / 10)
        number.magnitude = magnitudeLimit;
    else
        number.magnitude = number.magnitude * 10 + d;
}

std::int64_t numberValue(const NumberScan& number) {
    if (number.negative) {
        if (number.magnitude >= magnitudeLimit) return std::numeric_limits<std::int64_t>::min();
        return -static_cast<std::int64_t>(number.magnitude);
    }
    if (number.magnitude >= magnitudeLimit) return std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(number.magnitude);
}

void startRecords(RecordScan& scan, std::vector<FareRecord>& records) {
    scan = RecordScan{};
    scan.records = &records;
    scan.step = RecordStep::Space;
}

void scanRecords(RecordScan& scan, const char* data, std::size_t size) {
    const auto* p = reinterpret_cast<const unsigned char*>(data);
    const auto* end = p + size;
    while (p < end) {
        unsigned char c = *p++;
        bool blank = isBlank(c);
        if (!blank && !scan.inToken) ++scan.tokens;
        scan.inToken = !blank;

        switch (scan.step) {
        case RecordStep::Space:
            if (blank) break;
            if (scan.field != 3) {
                beginText(scan, scan.field);
                putText(scan, c);
            } else if (c == '+' || c == '-') {
                scan.number = NumberScan{0, c == '-'};
                scan.sign = static_cast<char>(c);
                scan.step = RecordStep::Sign;
            } else if (isDigit(c)) {
                scan.number = NumberScan{0, false};
                addDigit(scan.number, c);
                scan.step = RecordStep::Digits;
            } else {
                // No number here: the amount stays 0 and this token is the
                // record's last field.
                beginText(scan, 4);
                putText(scan, c);
            }
            break;
        case RecordStep::Text:
            if (blank)
                endText(scan);
            else
                putText(scan, c);
            break;
        case RecordStep::Sign:
            if (isDigit(c)) {
                addDigit(scan.number, c);
                scan.step = RecordStep::Digits;
                break;
            }
            // A lone sign is no number; the sign starts the last field.
            beginText(scan, 4);
            putText(scan, static_cast<unsigned char>(scan.sign));
            if (blank)
                endText(scan);
            else
                putText(scan, c);
            break;
        case RecordStep::Digits:
            if (isDigit(c)) {
                addDigit(scan.number, c);
                break;
            }
            endNumber(scan);
            if (blank) {
                scan.field = 4;
                scan.step = RecordStep::Space;
            } else {
                beginText(scan, 4);
                putText(scan, c);
            }
            break;
        }
    }
}

std::int64_t finishRecords(RecordScan& scan) {
    switch (scan.step) {
    case RecordStep::Space:
        if (scan.field > 0) endRecord(scan);
        break;
    case RecordStep::Text:
        endText(scan);
        if (scan.field > 0) endRecord(scan);
        break;
    case RecordStep::Sign:
        beginText(scan, 4);
        putText(scan, static_cast<unsigned char>(scan.sign));
        endRecord(scan);
        break;
    case RecordStep::Digits:
        endNumber(scan);
        endRecord(scan);
        break;
    }
    std::int64_t count = scan.tokens / 5;
    scan.records->resize(static_cast<std::size_t>(count));
    return count;
}
