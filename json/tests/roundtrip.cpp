#include "roundtrip.h"

#include "json/json.h"
#include "json/json_internal.h"

#include <cmath>
#include <cstring>

namespace {

int CollectUnit(void* context, uint32_t c) {
    auto* out = static_cast<std::u16string*>(context);
    *out += char16_t(c & 0xFFFF);
    if (c >> 16) *out += char16_t(c >> 16);
    return 1;
}

bool NumbersEquivalent(const JsonValue* a, const JsonValue* b) {
    if (!a->isDouble) return !b->isDouble && a->integer == b->integer;
    double x = a->real;
    if (!b->isDouble) {
        // A whole double comes back as an integer of exactly its value.
        return x >= -9223372036854775808.0 && x < 9223372036854775808.0 && x == std::trunc(x) &&
               int64_t(x) == b->integer;
    }
    return std::memcmp(&x, &b->real, sizeof x) == 0;
}

bool LoneSurrogate(const char16_t* text) {
    for (const char16_t* p = text; p && *p; ++p) {
        if (*p >= 0xD800 && *p <= 0xDBFF && p[1] >= 0xDC00 && p[1] <= 0xDFFF)
            ++p;
        else if (*p >= 0xD800 && *p <= 0xDFFF)
            return true;
    }
    return false;
}

// Whether some text of the tree holds a surrogate without its partner (which a UTF-8 file
// cannot carry: it is saved as U+FFFD).
bool HasLoneSurrogate(const JsonValue* v) {
    if (v->type == JsonString) return LoneSurrogate(v->text);
    for (JsonValue* e = JsonArrayFirst(v); e; e = JsonArrayNext(e))
        if (HasLoneSurrogate(e)) return true;
    for (JsonMember* m = JsonObjectFirstMember(v); m; m = JsonObjectNextMember(v, m))
        if (LoneSurrogate(m->name) || HasLoneSurrogate(&m->value)) return true;
    return false;
}

bool FlushToString(json_internal::Utf8Sink* sink) {
    static_cast<std::string*>(sink->context)
        ->append(reinterpret_cast<char*>(sink->buffer), size_t(sink->fill));
    sink->fill = 0;
    return true;
}

// The bytes a save would put into the file.
std::string WriteUtf8Text(JsonValue* value, int32_t flags) {
    std::string out;
    uint8_t block[json_internal::Utf8Sink::Size];
    json_internal::Utf8Sink sink{block, 0, FlushToString, &out};
    if (!json_internal::WriteUtf8(value, sink, flags) || !FlushToString(&sink)) return {};
    return out;
}

} // namespace

std::u16string JsonWriteToText(JsonValue* value, int32_t flags) {
    std::u16string out;
    if (!JsonWriteValue(value, JsonCharSink{CollectUnit, &out}, 0, flags)) out = u"<refused>";
    return out;
}

bool JsonTreesEquivalent(const JsonValue* a, const JsonValue* b) {
    if (!a || !b) return a == b;
    if (a->type == JsonNumber && a->isDouble && !std::isfinite(a->real)) return b->type == JsonNull;
    if (a->type != b->type) return false;
    switch (a->type) {
    case JsonNull:
        return true;
    case JsonBoolean:
        return a->boolean == b->boolean;
    case JsonNumber:
        return NumbersEquivalent(a, b);
    case JsonString:
        return std::u16string(JsonGetString(a)) == JsonGetString(b);
    case JsonArray: {
        if (JsonElementCount(a) != JsonElementCount(b)) return false;
        for (JsonValue *x = JsonArrayFirst(a), *y = JsonArrayFirst(b); x;
             x = JsonArrayNext(x), y = JsonArrayNext(y))
            if (!JsonTreesEquivalent(x, y)) return false;
        return true;
    }
    case JsonObject: {
        // The same names with equivalent values. The order may differ: within a chain the
        // newest member comes first, so reading a written object back reverses each chain.
        if (JsonMemberCount(a) != JsonMemberCount(b)) return false;
        for (JsonMember* x = JsonObjectFirstMember(a); x; x = JsonObjectNextMember(a, x))
            if (!JsonTreesEquivalent(&x->value, JsonObjectFind(b, x->name))) return false;
        return true;
    }
    default:
        return false;
    }
}

std::string JsonRoundTrip(const uint8_t* data, size_t size) {
    constexpr int64_t kFirst = 900, kSecond = 901;
    if (!JsonParseMemory(kFirst, data, int64_t(size), 0)) return {};
    std::string problem;
    for (int32_t flags : {0, JsonPrettyPrint}) {
        std::u16string text = JsonWriteToText(JsonRoot(kFirst), flags);
        if (!JsonParseText(kSecond, text.c_str(), 0)) {
            problem = std::string("the written text does not parse: ") + JsonLastError()->message;
            break;
        }
        if (!JsonTreesEquivalent(JsonRoot(kFirst), JsonRoot(kSecond))) {
            problem = flags ? "pretty text reads back differently"
                            : "compact text reads back differently";
            break;
        }
        // The same through the UTF-8 bytes of a save.
        std::string bytes = WriteUtf8Text(JsonRoot(kFirst), flags);
        if (bytes.find('\0') != std::string::npos) {
            problem = "a 0 byte in the saved bytes";
            break;
        }
        if (HasLoneSurrogate(JsonRoot(kFirst))) continue;
        if (!JsonParseMemory(kSecond, bytes.data(), int64_t(bytes.size()), 0)) {
            problem = std::string("the saved bytes do not parse: ") + JsonLastError()->message;
            break;
        }
        if (!JsonTreesEquivalent(JsonRoot(kFirst), JsonRoot(kSecond))) {
            problem = "the saved bytes read back differently";
            break;
        }
    }
    JsonFree(kFirst);
    JsonFree(kSecond);
    return problem;
}
