// The writer: a value tree as JSON text, compact or indented, one character at a time into
// a sink.
#include "json_internal.h"
#include "runtime/strings.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace {

constexpr size_t kNumberBuffer = 512;

// Exactly 9 (Write9) or 19 (Write19) decimal digits of v, with leading zeros, two at a time.
const char kDigitPairs[] = "00010203040506070809101112131415161718192021222324252627282930313233"
                           "34353637383940414243444546474849505152535455565758596061626364656667"
                           "6869707172737475767778798081828384858687888990919293949596979899";

void Write9(char* out, uint32_t v) {
    out[0] = char('0' + v / 100000000);
    v %= 100000000;
    uint32_t high = v / 10000, low = v % 10000;
    std::memcpy(out + 1, kDigitPairs + 2 * (high / 100), 2);
    std::memcpy(out + 3, kDigitPairs + 2 * (high % 100), 2);
    std::memcpy(out + 5, kDigitPairs + 2 * (low / 100), 2);
    std::memcpy(out + 7, kDigitPairs + 2 * (low % 100), 2);
}

void Write19(char* out, uint64_t v) {
    out[0] = char('0' + v / 1000000000000000000ull);
    v %= 1000000000000000000ull;
    Write9(out + 1, uint32_t(v / 1000000000));
    Write9(out + 10, uint32_t(v % 1000000000));
}

// The exact decimal digits of doubles from 2^-12 up to below 2^64, the range of nearly all
// numbers met in practice, rounded to 32 significant digits (half to even, as the C library
// rounds) and laid out as "%.32g" lays them out, which for this range is always the plain
// form. x = m / 2^k: the integer part is m >> k; each further 19 digits of the fraction f are
// the top bits of f * 10^19, which fit in 128 bits while k <= 64. Returns 0 outside the range.
size_t FormatDoubleFast(double x, char* out) {
#if !defined(__SIZEOF_INT128__)
    (void)x;
    (void)out;
    return 0; // no 128-bit products here: the general path does it all
#else
    uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    int field = int(bits >> 52 & 0x7FF);
    if (field == 0 || field == 0x7FF) return 0;
    int e = field - 1075;
    if (e < -64 || e > 11) return 0;
    uint64_t m = (bits & ((uint64_t{1} << 52) - 1)) | uint64_t{1} << 52;
    int k = e < 0 ? -e : 0;
    uint64_t integer = e >= 0 ? m << e : k == 64 ? 0 : m >> k;
    uint64_t mask = k == 64 ? ~uint64_t{0} : (uint64_t{1} << k) - 1;
    uint64_t f = e >= 0 ? 0 : m & mask;

    char digits[128];
    int n = 0;
    if (integer) n = int(std::to_chars(digits, digits + 24, integer).ptr - digits);
    int point = n;                // digits before the decimal point
    int first = integer ? 0 : -1; // the first significant digit
    while (f && (first < 0 || n - first < 33)) {
        unsigned __int128 p = static_cast<unsigned __int128>(f) * 10000000000000000000ull;
        uint64_t chunk = k == 64 ? uint64_t(p >> 64) : uint64_t(p >> k);
        f = uint64_t(p) & mask;
        Write19(digits + n, chunk);
        if (first < 0)
            for (int i = n; i < n + 19; ++i)
                if (digits[i] != '0') {
                    first = i;
                    break;
                }
        n += 19;
    }
    if (n - first > 32) {
        // Round at the 33rd significant digit: above half up, below down, a tie to even.
        char next = digits[first + 32];
        bool rest = f != 0;
        for (int i = first + 33; i < n && !rest; ++i) rest = digits[i] != '0';
        bool up = next > '5' || (next == '5' && (rest || (digits[first + 31] - '0') % 2));
        n = first + 32;
        if (up) {
            int i = n - 1;
            while (i >= first && digits[i] == '9') digits[i--] = '0';
            if (i >= first) {
                ++digits[i];
            } else if (first > 0) {
                digits[--first] = '1'; // a fraction's leading zero becomes the carry
            } else {
                std::memmove(digits + 1, digits, size_t(n));
                digits[0] = '1';
                ++n;
                ++point;
            }
        }
    }
    while (n > point && digits[n - 1] == '0') --n;
    char* p = out;
    if (bits >> 63) *p++ = '-';
    if (point == 0) {
        *p++ = '0';
    } else {
        std::memcpy(p, digits, size_t(point));
        p += point;
    }
    if (n > point) {
        *p++ = '.';
        std::memcpy(p, digits + point, size_t(n - point));
        p += n - point;
    }
    return size_t(p - out);
#endif
}

// The exact decimal digits of a finite non-zero |x| (a double is m * 2^e, so its value is an
// integer times a power of ten: m * 2^e for e >= 0, m * 5^-e / 10^-e below), as a big number
// in limbs of nine decimal digits, least significant first. Writes the digits without leading
// zeros and returns their count; *exponent receives the decimal exponent of the first digit.
// At most 767 digits (the smallest subnormal times 10^1074).
constexpr int kExactLimbs = 90;
constexpr int kExactDigits = kExactLimbs * 9;

int ExactDigits(double x, char* digits, int* exponent) {
    uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    int field = int(bits >> 52 & 0x7FF);
    uint64_t m = bits & ((uint64_t{1} << 52) - 1);
    int e = -1074;
    if (field) {
        m |= uint64_t{1} << 52;
        e = field - 1075;
    }
    uint32_t limbs[kExactLimbs];
    int count = 0;
    for (; m; m /= 1000000000) limbs[count++] = uint32_t(m % 1000000000);
    // Multiplies by factor (below 2^32, so every step stays below 2^64).
    auto multiply = [&](uint64_t factor) {
        uint64_t carry = 0;
        for (int i = 0; i < count; ++i) {
            uint64_t p = limbs[i] * factor + carry;
            limbs[i] = uint32_t(p % 1000000000);
            carry = p / 1000000000;
        }
        for (; carry; carry /= 1000000000) limbs[count++] = uint32_t(carry % 1000000000);
    };
    int shift = 0; // decimal places below the big number's last digit
    for (int left = e; left > 0; left -= 29) multiply(uint64_t{1} << (left < 29 ? left : 29));
    if (e < 0) {
        shift = -e;
        for (int left = -e; left > 0; left -= 13) {
            uint64_t five = 1;
            for (int i = 0; i < (left < 13 ? left : 13); ++i) five *= 5;
            multiply(five);
        }
    }
    auto top = std::to_chars(digits, digits + 9, limbs[count - 1]).ptr;
    int n = int(top - digits);
    for (int i = count - 2; i >= 0; --i, n += 9) Write9(digits + n, limbs[i]);
    *exponent = n - 1 - shift;
    return n;
}

// A double as the C library's "%.32g" prints it in the "C" locale: 32 significant digits,
// exactly rounded (half to even), trailing zeros dropped, exponent form for decimal exponents
// below -4 or from 32 on, with a sign and at least two digits. A whole number of 2^63 or more
// would come out as plain digits, which read back as a wrapped 64-bit integer; it takes the
// exponent form instead, so that it reads back as the same double.
size_t FormatDouble(double x, char* buffer) {
    if (size_t length = FormatDoubleFast(x, buffer); length && DoubleFitsInt64(x)) return length;
    char digits[kExactDigits + 1];
    int exponent;
    int n = ExactDigits(x, digits, &exponent);
    if (n > 32) {
        char next = digits[32];
        bool rest = false;
        for (int i = 33; i < n && !rest; ++i) rest = digits[i] != '0';
        bool up = next > '5' || (next == '5' && (rest || (digits[31] - '0') % 2));
        n = 32;
        if (up) {
            int i = n - 1;
            while (i >= 0 && digits[i] == '9') digits[i--] = '0';
            if (i >= 0) {
                ++digits[i];
            } else {
                digits[0] = '1'; // 99..9 became 100..0: one more place before the point
                ++exponent;
            }
        }
    }
    while (n > 1 && digits[n - 1] == '0') --n;

    char* p = buffer;
    if (x < 0) *p++ = '-';
    bool whole = exponent >= 0 && n <= exponent + 1;
    if (exponent < -4 || exponent >= 32 || (whole && !DoubleFitsInt64(x))) {
        *p++ = digits[0];
        if (n > 1) {
            *p++ = '.';
            std::memcpy(p, digits + 1, size_t(n - 1));
            p += n - 1;
        }
        *p++ = 'e';
        *p++ = exponent < 0 ? '-' : '+';
        int magnitude = exponent < 0 ? -exponent : exponent;
        if (magnitude < 10) *p++ = '0';
        p = std::to_chars(p, p + 3, magnitude).ptr;
    } else if (exponent < 0) {
        *p++ = '0';
        *p++ = '.';
        for (int i = -1; i > exponent; --i) *p++ = '0';
        std::memcpy(p, digits, size_t(n));
        p += n;
    } else {
        int before = exponent + 1; // digits before the point
        for (int i = 0; i < before; ++i) *p++ = i < n ? digits[i] : '0';
        if (n > before) {
            *p++ = '.';
            std::memcpy(p, digits + before, size_t(n - before));
            p += n - before;
        }
    }
    return size_t(p - buffer);
}

// The sink is a template parameter so that the library's own UTF-8 buffer is filled inline;
// callers' sinks are called through their procedure.
template <class Sink> class Writer {
  public:
    Writer(Sink& sink, bool pretty) : sink_(sink), pretty_(pretty) {}

    bool Value(JsonValue* v, int32_t indent) {
        switch (v->type) {
        case JsonNull:
            return Ascii("null", 4);
        case JsonBoolean:
            return v->boolean ? Ascii("true", 4) : Ascii("false", 5);
        case JsonNumber:
            return Number(v);
        case JsonString:
            return String(v->text);
        case JsonArray:
            return Array(v, indent);
        case JsonObject:
            return Object(v, indent);
        default:
            return false;
        }
    }

  private:
    bool Put(uint32_t c) { return sink_.Put(c); }

    bool Ascii(const char* text, size_t length) { return sink_.PutAscii(text, length); }

    bool Spaces(int32_t n) {
        for (int32_t i = 0; i < n; ++i)
            if (!Put(' ')) return false;
        return true;
    }

    bool LineBreak(int32_t indent) { return Put(13) && Put(10) && Spaces(indent); }

    bool Number(JsonValue* v) {
        char buffer[kNumberBuffer];
        if (!v->isDouble) {
            auto r = std::to_chars(buffer, buffer + sizeof buffer, v->integer);
            return Ascii(buffer, size_t(r.ptr - buffer));
        }
        double x = v->real;
        if (std::isnan(x) || std::isinf(x)) return Ascii("null", 4);
        if (x == 0.0) {
            v->real = 0.0; // -0.0 becomes +0.0
            return Put('0');
        }
        return Ascii(buffer, FormatDouble(x, buffer));
    }

    static bool Plain(char16_t u) { return u >= 0x20 && u < 0x80 && u != '"' && u != '\\'; }

    bool String(const char16_t* text) {
        if (!Put('"')) return false;
        for (const char16_t* p = text; p && *p; ++p) {
            // Runs of units written as they are go out together.
            if (Plain(*p)) {
                const char16_t* run = p;
                while (Plain(p[1])) ++p;
                if (!sink_.PutAscii(run, size_t(p - run + 1))) return false;
                continue;
            }
            char16_t u = *p;
            uint32_t out = u;
            switch (u) {
            case 8:
                if (!Put('\\') || !Put('b')) return false;
                continue;
            case 9:
                if (!Put('\\') || !Put('t')) return false;
                continue;
            case 10:
                if (!Put('\\') || !Put('n')) return false;
                continue;
            case 12:
                if (!Put('\\') || !Put('f')) return false;
                continue;
            case 13:
                if (!Put('\\') || !Put('r')) return false;
                continue;
            case '"':
            case '\\':
                if (!Put('\\') || !Put(u)) return false;
                continue;
            default:
                break;
            }
            if (u < 0x20) {
                static const char hex[] = "0123456789abcdef";
                char escape[6] = {'\\', 'u', '0', '0', hex[u >> 4], hex[u & 15]};
                if (!Ascii(escape, 6)) return false;
                continue;
            }
            // A pair goes to the sink as one value. A surrogate without its partner goes
            // alone, so that the unit after it is still escaped and a valid pair after it
            // is kept whole.
            if (u >= 0xD800 && u <= 0xDBFF && p[1] >= 0xDC00 && p[1] <= 0xDFFF) {
                out = u | uint32_t(p[1]) << 16;
                ++p;
            }
            if (!Put(out)) return false;
        }
        return Put('"');
    }

    // Trees live in many small blocks: ask for the next one while this one is written.
    static void Prefetch(const void* p) {
#if defined(__GNUC__)
        if (p) {
            __builtin_prefetch(p);
            __builtin_prefetch(static_cast<const char*>(p) + 64);
        }
#else
        (void)p;
#endif
    }

    bool Array(JsonValue* v, int32_t indent) {
        const JsonElement* e = v->elements ? v->elements->first : nullptr;
        if (!e) return Ascii("[]", 2);
        if (!Put('[')) return false;
        for (bool first = true; e; e = e->next, first = false) {
            Prefetch(e->next);
            if (e->value.type >= JsonArray) Prefetch(e->value.elements);
            if (!first && !Put(',')) return false;
            if (pretty_ && !LineBreak(indent + 2)) return false;
            if (!Value(const_cast<JsonValue*>(&e->value), indent + 2)) return false;
        }
        if (pretty_ && !LineBreak(indent)) return false;
        return Put(']');
    }

    bool Object(JsonValue* v, int32_t indent) {
        const JsonMemberTable* table = v->members;
        if (!table || !table->occupied) return Ascii("{}", 2);
        // Members in enumeration order: the chains in use, each from its head.
        int chains = 0;
        for (uint64_t bits = table->occupied; bits; bits &= bits - 1) ++chains;
        uint32_t longest = 0;
        if (pretty_)
            for (int h = 0; h < chains; ++h)
                for (JsonMember* n = table->heads[h]; n; n = n->next)
                    if (n->nameLength > longest) longest = n->nameLength;
        if (!Put('{')) return false;
        if (pretty_ && !LineBreak(indent + 2)) return false;
        bool first = true;
        for (int h = 0; h < chains; ++h)
            for (JsonMember* m = table->heads[h]; m; m = m->next, first = false) {
                Prefetch(m->next ? m->next : h + 1 < chains ? table->heads[h + 1] : nullptr);
                if (m->value.type >= JsonArray) Prefetch(m->value.members);
                if (!first) {
                    if (!Put(',')) return false;
                    if (pretty_ && !LineBreak(indent + 2)) return false;
                }
                if (!String(m->name)) return false;
                if (pretty_) {
                    if (!Spaces(int32_t(longest - m->nameLength)) || !Put(':') || !Put(' '))
                        return false;
                } else if (!Put(':')) {
                    return false;
                }
                if (!Value(&m->value, indent + 4)) return false;
            }
        if (pretty_ && !LineBreak(indent)) return false;
        return Put('}');
    }

    Sink& sink_;
    bool pretty_;
};

struct CallbackSink {
    const JsonCharSink& sink;
    bool Put(uint32_t c) { return sink.put(sink.context, c) != 0; }
    template <class Unit> bool PutAscii(const Unit* run, size_t n) {
        for (size_t i = 0; i < n; ++i)
            if (!Put(uint32_t(run[i]))) return false;
        return true;
    }
};

} // namespace

int JsonWriteValue(JsonValue* value, const JsonCharSink& sink, int32_t indent, int32_t flags) {
    if (!value || !sink.put) return 0;
    CallbackSink callback{sink};
    Writer<CallbackSink> writer(callback, (flags & JsonPrettyPrint) != 0);
    return writer.Value(value, indent) ? 1 : 0;
}

bool json_internal::WriteUtf8(JsonValue* value, Utf8Sink& sink, int32_t flags) {
    if (!value) return false;
    Writer<Utf8Sink> writer(sink, (flags & JsonPrettyPrint) != 0);
    return writer.Value(value, 0);
}
