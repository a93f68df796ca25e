#include "exchange/scan.h"

#include <algorithm>
#ifdef __SSE2__
#include <emmintrin.h>
#endif
#include <cstddef>
#include <cstring>
#include <limits>

namespace {

constexpr std::uint64_t magnitudeLimit = std::uint64_t{1} << 63;

// Room for each text field's bytes; `mode` keeps six (see FareRecord).
constexpr std::size_t textRoom[5] = {fareFields[0].kept, fareFields[1].kept, fareFields[2].kept,
                                     fareFields[3].kept, fareFields[4].kept};
constexpr std::size_t textOffset[5] = {offsetof(FareRecord, token1), offsetof(FareRecord, mode),
                                       offsetof(FareRecord, token3), 0, offsetof(FareRecord, token5)};

char* fieldText(FareRecord& record, int field) {
    return reinterpret_cast<char*>(&record) + textOffset[field];
}

// Copies n bytes, n at most 16, with a few fixed-size moves instead of a
// call or a byte loop: the two moves of each size class overlap.
void copySmall(char* out, const unsigned char* in, std::size_t n) {
    if (n >= 8) {
        std::memcpy(out, in, 8);
        std::memcpy(out + n - 8, in + n - 8, 8);
    } else if (n >= 4) {
        std::memcpy(out, in, 4);
        std::memcpy(out + n - 4, in + n - 4, 4);
    } else if (n > 0) {
        out[0] = static_cast<char>(in[0]);
        out[n / 2] = static_cast<char>(in[n / 2]);
        out[n - 1] = static_cast<char>(in[n - 1]);
    }
}

// Puts a token of `keep` bytes, the start of a field still empty, into
// the field with one vector store: `in` has 16 readable bytes. Fields are
// filled in order and start zeroed, so a store that carries a field's bytes
// followed by zeros may run over the fields after it: they are still zero,
// and are written later. The last field takes an 8-byte store, so nothing
// is ever written past the record.
void storeField(FareRecord& record, int field, const unsigned char* in, std::size_t keep) {
#ifdef __SSE2__
    const __m128i index = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    __m128i wanted = _mm_cmplt_epi8(index, _mm_set1_epi8(static_cast<char>(keep)));
    auto* out = reinterpret_cast<__m128i*>(fieldText(record, field));
    if (field == 4)
        _mm_storel_epi64(out, _mm_and_si128(bytes, wanted));
    else
        _mm_storeu_si128(out, _mm_and_si128(bytes, wanted));
#else
    copySmall(fieldText(record, field), in, keep);
#endif
}

static_assert(offsetof(FareRecord, token5) + 8 == sizeof(FareRecord) &&
                  offsetof(FareRecord, token3) + 16 <= sizeof(FareRecord),
              "a field's store must stay inside the record");

// The scan's state while a block is read. It is kept apart from the record
// being filled, so that writing a field's bytes cannot be taken to change
// the state, which can then stay in registers.
struct Cursor {
    std::int64_t tokens;
    std::size_t length;
    int field;
    RecordStep step;
};

Cursor cursorOf(const RecordScan& scan) { return {scan.tokens, scan.length, scan.field, scan.step}; }

void store(RecordScan& scan, const Cursor& at, const FareRecord& current) {
    scan.tokens = at.tokens;
    scan.length = at.length;
    scan.field = at.field;
    scan.step = at.step;
    scan.current = current;
}

void putText(Cursor& at, FareRecord& current, unsigned char c) {
    if (at.length < textRoom[at.field]) fieldText(current, at.field)[at.length] = static_cast<char>(c);
    ++at.length;
}

void beginText(Cursor& at, int field) {
    at.field = field;
    at.length = 0;
    at.step = RecordStep::Text;
}

void endRecord(Cursor& at, FareRecord& current, std::vector<FareRecord>& records) {
    records.push_back(current);
    current = FareRecord{};
    at.field = 0;
    at.step = RecordStep::Space;
}

void endText(Cursor& at, FareRecord& current, std::vector<FareRecord>& records) {
    if (at.field == 1) sealMode(current, at.length);
    if (at.field == 4) {
        endRecord(at, current, records);
        return;
    }
    ++at.field;
    at.step = RecordStep::Space;
}

#ifdef __SSE2__
// Lanes of v from low to low + span, all ones: unsigned (c - low) <= span.
__m128i inRange(__m128i v, char low, char span) {
    __m128i shifted = _mm_sub_epi8(v, _mm_set1_epi8(low));
    return _mm_cmpeq_epi8(_mm_min_epu8(shifted, _mm_set1_epi8(span)), shifted);
}

__m128i load16(const unsigned char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// Bit i set where p[i] is white space: ' ' or \t to \r. `p` has 16
// readable bytes.
unsigned blankMask(const unsigned char* p) {
    __m128i v = load16(p);
    __m128i blank = _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(' ')), inRange(v, '\t', '\r' - '\t'));
    return static_cast<unsigned>(_mm_movemask_epi8(blank));
}

// Bit i set where p[i] is a decimal digit. `p` has 16 readable bytes.
unsigned digitMask(const unsigned char* p) {
    return static_cast<unsigned>(_mm_movemask_epi8(inRange(load16(p), '0', 9)));
}

// The index of the lowest set bit, 16 when none of the 16 is set.
std::size_t firstSet(unsigned mask) { return static_cast<std::size_t>(__builtin_ctz(mask | 0x10000u)); }

// The value of the n digits at p, n from 1 to 8, without a loop: the
// digits go to the top bytes of a little-endian word, zeros before them,
// and are combined in pairs, then pairs of pairs, then halves.
std::uint64_t digitRunValue(const unsigned char* p, std::size_t n) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    word = (word << (8 * (8 - n))) & 0x0F0F0F0F0F0F0F0FULL;
    word = (word * 2561) >> 8;
    word = ((word & 0x00FF00FF00FF00FFULL) * 6553601) >> 16;
    return ((word & 0x0000FFFF0000FFFFULL) * 42949672960001ULL) >> 32;
}

// The blanks among the 64 bytes at p, bit i for p[i].
std::uint64_t blankMask64(const unsigned char* p) {
    std::uint64_t mask = 0;
    for (int i = 0; i < 4; ++i) mask |= std::uint64_t{blankMask(p + 16 * i)} << (16 * i);
    return mask;
}

// Takes the lowest set bit's index out of `bits`.
std::size_t takeLowest(std::uint64_t& bits) {
    auto at = static_cast<std::size_t>(__builtin_ctzll(bits));
    bits &= bits - 1;
    return at;
}

// Reads at p one whole record of the usual kind, five tokens that end
// within the next 64 bytes with an amount of 1 to 8 plain digits: nearly
// every record of a day's taps is one. Where the tokens start and stop is
// taken from one mask of the blanks rather than token by token, so that no
// step waits for the one before it. It fills `record`, which must be empty,
// and returns where the record's last token ends; nullptr for anything
// else, which the steps then read the same way. `p`, where no token is
// under way, has wholeRecordLookahead readable bytes.
constexpr std::ptrdiff_t wholeRecordLookahead = 80;

const unsigned char* plainRecord(const unsigned char* p, FareRecord& record) {
    std::uint64_t blank = blankMask64(p);
    std::uint64_t text = ~blank;
    std::uint64_t starts = text & ~(text << 1);
    std::uint64_t stops = blank & (text << 1);
    std::size_t start[5];
    std::size_t length[5];
    for (int field = 0; field < 5; ++field) {
        // A stop always has its start before it.
        if (stops == 0) return nullptr;
        start[field] = takeLowest(starts);
        length[field] = takeLowest(stops) - start[field];
    }
    const unsigned char* amount = p + start[3];
    if (firstSet(~digitMask(amount)) != length[3] || length[3] > 8) return nullptr;
    // In field order: a field's store may run over the ones after it.
    for (int field : {0, 1, 2})
        storeField(record, field, p + start[field], std::min(length[field], textRoom[field]));
    sealMode(record, length[1]);
    record.amount = static_cast<std::int64_t>(digitRunValue(amount, length[3]));
    storeField(record, 4, p + start[4], std::min(length[4], textRoom[4]));
    return p + start[4] + length[4];
}
#endif

}  // namespace

// Most tokens are shorter than 16 bytes, so one vector step usually finds
// the white space that ends a token.
const unsigned char* findWhiteSpace(const unsigned char* p, const unsigned char* end) {
#ifdef __SSE2__
    while (end - p >= 16) {
        unsigned mask = blankMask(p);
        if (mask != 0) return p + __builtin_ctz(mask);
        p += 16;
    }
#endif
    while (p < end && !isWhiteSpace(*p)) ++p;
    return p;
}


bool hasControlBytes(const unsigned char* p, const unsigned char* end) {
#ifdef __SSE2__
    for (; end - p >= 16; p += 16) {
        __m128i v = load16(p);
        // Below a blank, less the white space \t to \r, or DEL.
        __m128i low = _mm_cmplt_epi8(_mm_xor_si128(v, _mm_set1_epi8(static_cast<char>(0x80))),
                                     _mm_set1_epi8(static_cast<char>(0x20 ^ 0x80)));
        __m128i white = inRange(v, '\t', '\r' - '\t');
        __m128i del = _mm_cmpeq_epi8(v, _mm_set1_epi8(0x7f));
        if (_mm_movemask_epi8(_mm_or_si128(_mm_andnot_si128(white, low), del)) != 0) return true;
    }
#endif
    for (; p < end; ++p)
        if ((*p < 0x20 && !isWhiteSpace(*p)) || *p == 0x7f) return true;
    return false;
}

void addDigit(NumberScan& number, unsigned char digit) {
    unsigned d = digit - '0';
    if (number.magnitude < magnitudeLimit / 10 - 1)
        number.magnitude = number.magnitude * 10 + d;
    else if (number.magnitude > (magnitudeLimit - d) / 10)
        number.magnitude = magnitudeLimit;
    else
        number.magnitude = number.magnitude * 10 + d;
}

std::int64_t addSaturating(std::int64_t a, std::int64_t b) {
    std::int64_t sum;
    if (!__builtin_add_overflow(a, b, &sum)) return sum;
    return b > 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
}

// A carrier names one only when its whole token is the name: so that "BUS"
// followed by NULs cannot pass for "BUS" zero-padded.
void sealMode(FareRecord& record, std::size_t length) {
    if (std::memchr(record.mode, 0, std::min(length, sizeof record.mode)) != nullptr) record.mode[5] = '\x01';
}

std::int64_t numberValue(const NumberScan& number) {
    if (number.negative) {
        if (number.magnitude >= magnitudeLimit) return std::numeric_limits<std::int64_t>::min();
        return -static_cast<std::int64_t>(number.magnitude);
    }
    if (number.magnitude >= magnitudeLimit) return std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(number.magnitude);
}

void scanTrigger(TriggerScan& scan, const char* data, std::size_t size) {
    for (std::size_t i = 0; i < size && !scan.ended; ++i) {
        auto c = static_cast<unsigned char>(data[i]);
        if (isDigit(c)) {
            addDigit(scan.number, c);
            scan.digits = true;
        } else if (!scan.sign && !scan.digits && isWhiteSpace(c)) {
            // still in the leading white space
        } else if (!scan.sign && !scan.digits && (c == '+' || c == '-')) {
            scan.sign = true;
            scan.number.negative = c == '-';
        } else {
            scan.ended = true;
        }
    }
}

bool triggerValue(const TriggerScan& scan, std::int64_t& value) {
    if (!scan.digits) return false;
    value = numberValue(scan.number);
    return true;
}

void scanDate(DateScan& scan, const char* data, std::size_t size) {
    for (std::size_t i = 0; i < size && !scan.ended; ++i) {
        auto c = static_cast<unsigned char>(data[i]);
        if (isWhiteSpace(c)) {
            scan.ended = scan.length > 0;
            continue;
        }
        scan.token[scan.length++] = static_cast<char>(c);
        scan.ended = scan.length == sizeof scan.token;
    }
}

void startRecords(RecordScan& scan, std::vector<FareRecord>& records) {
    scan = RecordScan{};
    scan.records = &records;
    scan.known = -1;
    scan.step = RecordStep::Space;
}

// Each step runs over as many bytes as it can in one tight loop and leaves
// the scan in a state that the next block resumes from, so a block may end
// anywhere, even inside a token.
void scanRecords(RecordScan& scan, const char* data, std::size_t size) {
    const auto* p = reinterpret_cast<const unsigned char*>(data);
    const auto* end = p + size;
    std::vector<FareRecord>& records = *scan.records;
    Cursor at = cursorOf(scan);
    FareRecord current = scan.current;
    NumberScan number = scan.number;
    while (p < end) {
        switch (at.step) {
        case RecordStep::Space: {
#ifdef __SSE2__
            // Ordinary records are read whole while the block holds room
            // for one, each built in the table itself rather than copied.
            if (at.field == 0) {
                while (end - p >= wholeRecordLookahead) {
                    const unsigned char* next = plainRecord(p, records.emplace_back());
                    if (next == nullptr) {
                        records.pop_back();
                        break;
                    }
                    p = next;
                    at.tokens += 5;
                }
            }
#endif
            while (p < end && isWhiteSpace(*p)) ++p;
            if (p == end) break;
            ++at.tokens;
            unsigned char c = *p;
            if (at.field == 3) {
                if (c == '+' || c == '-') {
                    number = NumberScan{0, c == '-'};
                    scan.sign = static_cast<char>(c);
                    at.step = RecordStep::Sign;
                    ++p;
                    break;
                }
                if (isDigit(c)) {
                    number = NumberScan{0, false};
                    at.step = RecordStep::Digits;
                    break;
                }
                // No number here: the amount stays 0 and this token is the
                // record's last field.
                at.field = 4;
            }
            beginText(at, at.field);
            [[fallthrough]];
        }
        case RecordStep::Text: {
            const unsigned char* start = p;
            p = findWhiteSpace(p, end);
            auto n = static_cast<std::size_t>(p - start);
            std::size_t fieldRoom = textRoom[at.field];
            std::size_t keep = at.length < fieldRoom ? std::min(n, fieldRoom - at.length) : 0;
            if (at.length == 0 && end - start >= 16)
                storeField(current, at.field, start, keep);
            else if (keep > 0)
                copySmall(fieldText(current, at.field) + at.length, start, keep);
            at.length += n;
            if (p < end) endText(at, current, records);
            break;
        }
        case RecordStep::Sign:
            if (isDigit(*p)) {
                at.step = RecordStep::Digits;
                break;
            }
            // A lone sign is no number; the sign starts the last field.
            beginText(at, 4);
            putText(at, current, static_cast<unsigned char>(scan.sign));
            break;
        case RecordStep::Digits:
            while (p < end && isDigit(*p)) addDigit(number, *p++);
            if (p == end) break;
            current.amount = numberValue(number);
            if (isWhiteSpace(*p)) {
                at.field = 4;
                at.step = RecordStep::Space;
            } else {
                beginText(at, 4);
            }
            break;
        }
    }
    scan.number = number;
    store(scan, at, current);
}

std::size_t readyRecords(RecordScan& scan) {
    std::vector<FareRecord>& records = *scan.records;
    bool firstPass = scan.known < 0;
    if (firstPass && scan.overflowed) {
        dropRecords(scan, records.size());
        return 0;
    }
    // A second pass reads again the records the first one handed out.
    if (scan.dropped < scan.handFrom)
        dropRecords(scan, std::min(records.size(), static_cast<std::size_t>(scan.handFrom - scan.dropped)));
    std::int64_t counted = (firstPass ? scan.tokens / 5 : scan.known) - scan.dropped;
    std::size_t ready = std::min(records.size(), static_cast<std::size_t>(std::max<std::int64_t>(counted, 0)));
    if (firstPass && records.size() - ready > surplusRoom) {
        scan.overflowed = true;
        scan.handFrom = scan.dropped + static_cast<std::int64_t>(ready);
    }
    return ready;
}

void dropRecords(RecordScan& scan, std::size_t count) {
    // Past the surplus, a first pass keeps nothing: what it drops now, the
    // second pass reads again.
    if (scan.known < 0 && scan.overflowed) count = scan.records->size();
    scan.records->erase(scan.records->begin(), scan.records->begin() + static_cast<std::ptrdiff_t>(count));
    scan.dropped += static_cast<std::int64_t>(count);
}

bool needsSecondPass(const RecordScan& scan, std::int64_t count) {
    return scan.known < 0 && scan.overflowed && scan.handFrom < count;
}

void startSecondPass(RecordScan& scan, std::int64_t count) {
    std::vector<FareRecord>& records = *scan.records;
    std::int64_t from = scan.handFrom;
    records.clear();
    startRecords(scan, records);
    scan.known = count;
    scan.handFrom = from;
}

bool secondPassDone(const RecordScan& scan) { return scan.known >= 0 && scan.dropped >= scan.known; }

std::int64_t finishRecords(RecordScan& scan) {
    std::vector<FareRecord>& records = *scan.records;
    Cursor at = cursorOf(scan);
    FareRecord current = scan.current;
    switch (at.step) {
    case RecordStep::Space:
        if (at.field > 0) endRecord(at, current, records);
        break;
    case RecordStep::Text:
        endText(at, current, records);
        if (at.field > 0) endRecord(at, current, records);
        break;
    case RecordStep::Sign:
        beginText(at, 4);
        putText(at, current, static_cast<unsigned char>(scan.sign));
        endRecord(at, current, records);
        break;
    case RecordStep::Digits:
        current.amount = numberValue(scan.number);
        endRecord(at, current, records);
        break;
    }
    store(scan, at, current);
    bool firstPass = scan.known < 0;
    std::int64_t count = firstPass ? scan.tokens / 5 : scan.known;
    if (firstPass && scan.overflowed) {
        dropRecords(scan, records.size());
        return count;
    }
    if (scan.dropped < scan.handFrom)
        dropRecords(scan, std::min(records.size(), static_cast<std::size_t>(scan.handFrom - scan.dropped)));
    std::int64_t kept = std::max<std::int64_t>(count - scan.dropped, 0);
    records.resize(std::min(records.size(), static_cast<std::size_t>(kept)));
    return count;
}
