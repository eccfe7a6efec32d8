// The writer: a value tree as JSON text, compact or indented, one character at a time into
// a sink.
#include "json_internal.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace {

constexpr size_t kNumberBuffer = 512;

// A double as the C library's "%.32g" prints it in the "C" locale: 32 significant digits,
// exactly rounded, trailing zeros dropped, exponent form for exponents below -4 or from 32.
// A whole number of 2^63 or more would come out as plain digits, which read back as a
// wrapped 64-bit integer; it takes the exponent form instead, so that it reads back as the
// same double.
size_t FormatDouble(double x, char* buffer) {
    auto r = std::to_chars(buffer, buffer + kNumberBuffer - 1, x, std::chars_format::general, 32);
    size_t length = size_t(r.ptr - buffer);
    if ((x >= -9223372036854775808.0 && x < 9223372036854775808.0) ||
        std::memchr(buffer, '.', length) || std::memchr(buffer, 'e', length))
        return length;
    r = std::to_chars(buffer, buffer + kNumberBuffer - 1, x, std::chars_format::scientific, 31);
    char* e = static_cast<char*>(std::memchr(buffer, 'e', size_t(r.ptr - buffer)));
    char* cut = e;
    while (cut[-1] == '0') --cut;
    if (cut[-1] == '.') --cut;
    std::memmove(cut, e, size_t(r.ptr - e));
    return size_t(r.ptr - e) + size_t(cut - buffer);
}

class Writer {
  public:
    Writer(const JsonCharSink& sink, bool pretty) : sink_(sink), pretty_(pretty) {}

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
    bool Put(uint32_t c) { return sink_.put(sink_.context, c) != 0; }

    bool Ascii(const char* text, size_t length) {
        for (size_t i = 0; i < length; ++i)
            if (!Put(static_cast<unsigned char>(text[i]))) return false;
        return true;
    }

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

    bool String(const char16_t* text) {
        if (!Put('"')) return false;
        for (const char16_t* p = text; p && *p; ++p) {
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

    bool Array(JsonValue* v, int32_t indent) {
        JsonValue* e = JsonArrayFirst(v);
        if (!e) return Ascii("[]", 2);
        if (!Put('[')) return false;
        for (bool first = true; e; e = JsonArrayNext(e), first = false) {
            if (!first && !Put(',')) return false;
            if (pretty_ && !LineBreak(indent + 2)) return false;
            if (!Value(e, indent + 2)) return false;
        }
        if (pretty_ && !LineBreak(indent)) return false;
        return Put(']');
    }

    bool Object(JsonValue* v, int32_t indent) {
        JsonMember* m = JsonObjectFirstMember(v);
        if (!m) return Ascii("{}", 2);
        uint32_t longest = 0;
        if (pretty_)
            for (JsonMember* n = m; n; n = JsonObjectNextMember(v, n))
                if (n->nameLength > longest) longest = n->nameLength;
        if (!Put('{')) return false;
        if (pretty_ && !LineBreak(indent + 2)) return false;
        for (bool first = true; m; m = JsonObjectNextMember(v, m), first = false) {
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

    const JsonCharSink& sink_;
    bool pretty_;
};

} // namespace

int JsonWriteValue(JsonValue* value, const JsonCharSink& sink, int32_t indent, int32_t flags) {
    if (!value || !sink.put) return 0;
    Writer writer(sink, (flags & JsonPrettyPrint) != 0);
    return writer.Value(value, indent) ? 1 : 0;
}
