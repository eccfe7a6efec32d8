#include "roundtrip.h"

#include "json/json.h"

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
    }
    JsonFree(kFirst);
    JsonFree(kSecond);
    return problem;
}
