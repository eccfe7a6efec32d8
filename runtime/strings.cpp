#include "strings.h"

#include "heap.h"
#include "platform.h"
#include "threads.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>

namespace {

constexpr int kSavedPositions = 100;
constexpr int64_t kInitialScratch = 16;
constexpr int64_t kGrowthSlack = 16384;
constexpr int64_t kShrinkAbove = 1048576;
// Bytes that every string buffer has beyond its capacity, so that the terminator and a
// unit or two written right at the end never fall outside the block.
constexpr int64_t kBufferSlack = 10;

struct StringScratch {
    char* buffer;
    int64_t capacity; // bytes
    int64_t position; // bytes
    int64_t saved[kSavedPositions];
    int32_t depth;
};

int64_t gScratchOffset = -1;

void ScratchCleanup(void* block) {
    auto* scratch = static_cast<StringScratch*>(block);
    if (scratch->buffer) platform::HeapRelease(StringHeap(), scratch->buffer);
    scratch->buffer = nullptr;
}

StringScratch* Scratch() {
    if (gScratchOffset < 0) return nullptr;
    auto* scratch = static_cast<StringScratch*>(ThreadLocalGet(gScratchOffset));
    if (scratch && !scratch->buffer) {
        scratch->buffer = static_cast<char*>(
            platform::HeapAllocate(StringHeap(), size_t(kInitialScratch + kBufferSlack), true));
        if (!scratch->buffer) return nullptr;
        scratch->capacity = kInitialScratch;
        scratch->position = 0;
    }
    return scratch;
}

// Reserves bytes at the write position by the area's growth and shrink rules; the write
// position moves past them. Returns the offset of the reserved bytes, or -1.
int64_t Reserve(StringScratch* scratch, int64_t bytes) {
    int64_t start = scratch->position;
    int64_t need = start + bytes;
    int64_t capacity = scratch->capacity;
    if (need >= capacity - 4)
        capacity = need + kGrowthSlack;
    else if (capacity > kShrinkAbove)
        capacity = need > kShrinkAbove ? need : kShrinkAbove;
    if (capacity != scratch->capacity) {
        void* moved = platform::HeapReallocate(StringHeap(), scratch->buffer,
                                               size_t(capacity + kBufferSlack), false);
        if (!moved) return -1;
        scratch->buffer = static_cast<char*>(moved);
        scratch->capacity = capacity;
    }
    scratch->position = need;
    return start;
}

// Writes length units of text plus a terminator into the scratch area. The text may lie
// inside the area itself: it is found again by its offset if the area moves.
const char16_t* ScratchWrite(const char16_t* text, size_t length) {
    StringScratch* scratch = Scratch();
    if (!scratch) return u"";
    const char* from = reinterpret_cast<const char*>(text);
    int64_t inside = -1;
    if (from >= scratch->buffer && from < scratch->buffer + scratch->capacity + kBufferSlack)
        inside = from - scratch->buffer;
    int64_t at = Reserve(scratch, int64_t(length + 1) * 2);
    if (at < 0) return u"";
    if (inside >= 0) text = reinterpret_cast<const char16_t*>(scratch->buffer + inside);
    auto* out = reinterpret_cast<char16_t*>(scratch->buffer + at);
    std::memmove(out, text, length * 2);
    out[length] = 0;
    return out;
}

// The C library's isspace in the "C" locale: space, tab, line feed, vertical tab, form
// feed, carriage return.
bool IsWhite(char16_t c) {
    constexpr char16_t kTab = 9, kCarriageReturn = 13;
    return c == ' ' || (c >= kTab && c <= kCarriageReturn);
}

char16_t AsciiLower(char16_t c) {
    return c >= 'A' && c <= 'Z' ? char16_t(c + 32) : c;
}

bool EqualsNoCase(const char16_t* a, const char* b) {
    for (; *b; ++a, ++b)
        if (AsciiLower(*a) != *b) return false;
    return *a == 0;
}

} // namespace

// ---- Scratch area ----------------------------------------------------------------------

void StringLibraryInit() {
    if (gScratchOffset < 0)
        gScratchOffset = ThreadLocalRegister(sizeof(StringScratch), nullptr, ScratchCleanup);
    Scratch(); // the main thread's area exists from start-up on
}

ScratchMark::ScratchMark() : saved_(false) {
    StringScratch* scratch = Scratch();
    if (scratch && scratch->depth < kSavedPositions) {
        scratch->saved[scratch->depth++] = scratch->position;
        saved_ = true;
    }
}

ScratchMark::~ScratchMark() {
    if (!saved_) return;
    StringScratch* scratch = Scratch();
    if (scratch && scratch->depth > 0) scratch->position = scratch->saved[--scratch->depth];
}

char16_t* ScratchReserve(size_t units) {
    StringScratch* scratch = Scratch();
    if (!scratch) return nullptr;
    int64_t at = Reserve(scratch, int64_t(units) * 2);
    return at < 0 ? nullptr : reinterpret_cast<char16_t*>(scratch->buffer + at);
}

const char16_t* ScratchCopy(const char16_t* text) {
    return ScratchWrite(text ? text : u"", StringLength(text));
}

const char16_t* ScratchCopy(const char16_t* text, size_t length) {
    return ScratchWrite(text ? text : u"", text ? length : 0);
}

int64_t ScratchCapacity() {
    StringScratch* scratch = Scratch();
    return scratch ? scratch->capacity : 0;
}

int64_t ScratchPosition() {
    StringScratch* scratch = Scratch();
    return scratch ? scratch->position : 0;
}

// ---- String variables ------------------------------------------------------------------

RuntimeString::~RuntimeString() {
    if (text_) platform::HeapRelease(StringHeap(), text_);
}

bool RuntimeString::Assign(const char16_t* text) {
    if (!text) {
        if (text_) platform::HeapRelease(StringHeap(), text_);
        text_ = nullptr;
        return true;
    }
    size_t length = StringLength(text);
    // The text may be part of our own buffer (s = TrimRight(s) and the like): copy first.
    auto* buffer = static_cast<char16_t*>(
        platform::HeapAllocate(StringHeap(), length * 2 + kBufferSlack, false));
    if (!buffer) return false;
    std::memcpy(buffer, text, length * 2);
    buffer[length] = 0;
    if (text_) platform::HeapRelease(StringHeap(), text_);
    text_ = buffer;
    return true;
}

bool RuntimeString::Append(const char16_t* text) {
    size_t have = Length(), add = StringLength(text);
    auto* buffer = static_cast<char16_t*>(
        platform::HeapAllocate(StringHeap(), (have + add) * 2 + kBufferSlack, false));
    if (!buffer) return false;
    if (have) std::memcpy(buffer, text_, have * 2);
    if (add) std::memcpy(buffer + have, text, add * 2);
    buffer[have + add] = 0;
    if (text_) platform::HeapRelease(StringHeap(), text_);
    text_ = buffer;
    return true;
}

size_t RuntimeString::Length() const {
    return StringLength(text_);
}

// ---- Operations ------------------------------------------------------------------------

size_t StringLength(const char16_t* text) {
    size_t n = 0;
    if (text)
        while (text[n]) ++n;
    return n;
}

const char16_t* TrimRight(const char16_t* text) {
    size_t length = StringLength(text);
    while (length > 0 && text[length - 1] == u' ') --length;
    return ScratchWrite(text ? text : u"", length);
}

const char16_t* LowerCase(const char16_t* text) {
    size_t length = StringLength(text);
    const char16_t* copy = ScratchWrite(text ? text : u"", length);
    platform::LowerCaseInPlace(const_cast<char16_t*>(copy), length);
    return copy;
}

int StringEquals(const char16_t* a, const char16_t* b) {
    if (!a) a = u"";
    if (!b) b = u"";
    for (;; ++a, ++b) {
        if (*a != *b) return 0;
        if (*a == 0) return 1;
    }
}

size_t IntegerToText(int64_t n, char16_t* out) {
    char16_t digits[IntegerTextUnits - 1];
    size_t at = sizeof digits / sizeof digits[0];
    // The magnitude as unsigned, so that the most negative value prints correctly.
    uint64_t magnitude = n < 0 ? 0 - static_cast<uint64_t>(n) : static_cast<uint64_t>(n);
    do {
        digits[--at] = char16_t(u'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    if (n < 0) digits[--at] = u'-';
    size_t length = sizeof digits / sizeof digits[0] - at;
    std::memcpy(out, digits + at, length * sizeof(char16_t));
    out[length] = 0;
    return length;
}

const char16_t* IntegerToString(int64_t n) {
    char16_t text[IntegerTextUnits];
    return ScratchWrite(text, IntegerToText(n, text));
}

int64_t StringToInteger(const char16_t* text) {
    if (!text) return 0;
    while (*text == u' ' || *text == u'\t') ++text;
    bool negative = false;
    if (*text == u'-' || *text == u'+') negative = *text++ == u'-';
    unsigned base = 10;
    if (*text == u'$') {
        base = 16;
        ++text;
    } else if (*text == u'%') {
        base = 2;
        ++text;
    }
    uint64_t value = 0; // wraps modulo 2^64 by design
    for (;; ++text) {
        unsigned digit;
        char16_t c = *text;
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (c >= u'a' && c <= u'f')
            digit = c - u'a' + 10;
        else if (c >= u'A' && c <= u'F')
            digit = c - u'A' + 10;
        else
            break;
        if (digit >= base) break;
        value = value * base + digit;
    }
    return static_cast<int64_t>(negative ? 0 - value : value);
}

double StringToDouble(const char16_t* text) {
    if (!text) return 0.0;
    if (EqualsNoCase(text, "+infinity")) return std::numeric_limits<double>::infinity();
    if (EqualsNoCase(text, "-infinity")) return -std::numeric_limits<double>::infinity();
    if (EqualsNoCase(text, "nan")) {
        uint64_t bits = 0xFFF8000000000000ull;
        double nan;
        std::memcpy(&nan, &bits, sizeof nan);
        return nan;
    }
    // Read as the C library's "%lf" would in the "C" locale: leading white space, a sign,
    // then a decimal number (or inf/infinity/nan); stops at the first character that does
    // not fit. Done here, locale-free, so the result never depends on the user's settings.
    while (IsWhite(*text)) ++text;
    char narrow[512];
    size_t n = 0;
    for (; text[n] && n < sizeof narrow - 1; ++n) {
        if (text[n] > 0x7F) break;
        narrow[n] = static_cast<char>(text[n]);
    }
    narrow[n] = 0;
    const char* p = narrow;
    bool negative = false;
    if (*p == '-' || *p == '+') negative = *p++ == '-';
    double value = 0.0;
    std::u16string_view rest(text + (p - narrow));
    auto startsWith = [&](const char* word) {
        size_t i = 0;
        for (; word[i]; ++i)
            if (i >= rest.size() || AsciiLower(rest[i]) != word[i]) return false;
        return true;
    };
    if (startsWith("inf")) {
        value = std::numeric_limits<double>::infinity();
    } else if (startsWith("nan")) {
        value = std::numeric_limits<double>::quiet_NaN();
    } else if (std::isdigit(static_cast<unsigned char>(*p)) ||
               (*p == '.' && std::isdigit(static_cast<unsigned char>(p[1])))) {
        const char* end = narrow + n;
        auto result = std::from_chars(p, end, value, std::chars_format::general);
        if (result.ec == std::errc::result_out_of_range)
            value = DecimalAboveDoubleRange(p, end) ? std::numeric_limits<double>::infinity() : 0.0;
        else if (result.ec != std::errc())
            return 0.0;
    } else {
        return 0.0;
    }
    return negative ? -value : value;
}

bool DecimalAboveDoubleRange(const char* p, const char* end) {
    // The decimal magnitude of the first non-zero digit plus the exponent decides.
    const char* q = p;
    int64_t integerDigits = 0;
    while (q < end && *q >= '0' && *q <= '9') ++q, ++integerDigits;
    int64_t magnitude = 0, i = 0, fraction = 0;
    bool found = false, point = false;
    for (; p < end && ((*p >= '0' && *p <= '9') || *p == '.'); ++p) {
        if (*p == '.') {
            point = true;
            continue;
        }
        int64_t m = point ? -++fraction : integerDigits - 1 - i++;
        if (*p != '0') {
            magnitude = m;
            found = true;
            break;
        }
    }
    if (!found) return false;
    while (p < end && ((*p >= '0' && *p <= '9') || *p == '.')) ++p;
    int64_t exponent = 0;
    if (p < end && (*p == 'e' || *p == 'E')) {
        ++p;
        bool negative = p < end && *p == '-';
        if (p < end && (*p == '+' || *p == '-')) ++p;
        // Capped: beyond it the answer no longer changes.
        for (; p < end && *p >= '0' && *p <= '9' && exponent < 100000; ++p)
            exponent = exponent * 10 + (*p - '0');
        if (negative) exponent = -exponent;
    }
    return magnitude + exponent > 0;
}

int64_t DoubleToInteger(double x) {
    uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    if (std::isinf(x) || bits == ~uint64_t{0}) return 0;
    if (!DoubleFitsInt64(x)) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(x);
}
