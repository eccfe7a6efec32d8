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
            platform::HeapAllocate(StringHeap(), size_t(kInitialScratch + 10), true));
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
        void* moved =
            platform::HeapReallocate(StringHeap(), scratch->buffer, size_t(capacity + 10), false);
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
    if (from >= scratch->buffer && from < scratch->buffer + scratch->capacity + 10)
        inside = from - scratch->buffer;
    int64_t at = Reserve(scratch, int64_t(length + 1) * 2);
    if (at < 0) return u"";
    if (inside >= 0) text = reinterpret_cast<const char16_t*>(scratch->buffer + inside);
    auto* out = reinterpret_cast<char16_t*>(scratch->buffer + at);
    std::memmove(out, text, length * 2);
    out[length] = 0;
    return out;
}

bool IsWhite(char16_t c) {
    return c == ' ' || (c >= 9 && c <= 13);
}

char16_t AsciiLower(char16_t c) {
    return c >= 'A' && c <= 'Z' ? char16_t(c + 32) : c;
}

bool EqualsNoCase(const char16_t* a, const char* b) {
    for (; *b; ++a, ++b)
        if (AsciiLower(*a) != *b) return false;
    return *a == 0;
}

// Whether a decimal text that overflowed the double range was too large (else too small).
bool TooLarge(const char* text, const char* end) {
    int64_t exponent = 0;
    int64_t digitsBeforePoint = 0;
    int64_t leadingFractionZeros = 0;
    bool seenPoint = false, seenNonZero = false;
    const char* p = text;
    for (; p < end && (std::isdigit(static_cast<unsigned char>(*p)) || *p == '.'); ++p) {
        if (*p == '.') {
            seenPoint = true;
        } else if (*p != '0' || seenNonZero) {
            seenNonZero = true;
            if (!seenPoint) ++digitsBeforePoint;
        } else if (seenPoint) {
            ++leadingFractionZeros;
        }
    }
    if (p < end && (*p == 'e' || *p == 'E')) {
        int64_t e = 0;
        auto result = std::from_chars(p + 1 + (p[1] == '+'), end, e);
        if (result.ec == std::errc::result_out_of_range) e = p[1] == '-' ? -100000 : 100000;
        exponent = e;
    }
    int64_t magnitude =
        digitsBeforePoint > 0 ? digitsBeforePoint - 1 + exponent : -leadingFractionZeros + exponent;
    return magnitude > 0;
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
    auto* buffer =
        static_cast<char16_t*>(platform::HeapAllocate(StringHeap(), length * 2 + 10, false));
    if (!buffer) return false;
    std::memcpy(buffer, text, length * 2);
    buffer[length] = 0;
    if (text_) platform::HeapRelease(StringHeap(), text_);
    text_ = buffer;
    return true;
}

bool RuntimeString::Append(const char16_t* text) {
    size_t have = Length(), add = StringLength(text);
    auto* buffer =
        static_cast<char16_t*>(platform::HeapAllocate(StringHeap(), (have + add) * 2 + 10, false));
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

const char16_t* IntegerToString(int64_t n) {
    char16_t digits[24];
    size_t at = sizeof digits / sizeof digits[0];
    // The magnitude as unsigned, so that the most negative value prints correctly.
    uint64_t magnitude = n < 0 ? 0 - static_cast<uint64_t>(n) : static_cast<uint64_t>(n);
    do {
        digits[--at] = char16_t(u'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    if (n < 0) digits[--at] = u'-';
    return ScratchWrite(digits + at, sizeof digits / sizeof digits[0] - at);
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
            value = TooLarge(p, end) ? std::numeric_limits<double>::infinity() : 0.0;
        else if (result.ec != std::errc())
            return 0.0;
    } else {
        return 0.0;
    }
    return negative ? -value : value;
}

int64_t DoubleToInteger(double x) {
    uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    if (std::isinf(x) || bits == ~uint64_t{0}) return 0;
    if (std::isnan(x) || !(x >= -9223372036854775808.0 && x < 9223372036854775808.0))
        return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(x);
}
