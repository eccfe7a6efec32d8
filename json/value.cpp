// Values, member tables, element sequences and the document table.
#include "json_internal.h"

#include "runtime/heap.h"
#include "runtime/threads.h"

#include <cmath>
#include <cstring>

// Members and elements are never freed one by one, only with their whole object or array:
// they are cut from chunks that the container owns, which keeps a container's nodes close
// together and saves one heap block per node. Chunks grow from 256 bytes to 16 KiB.
struct JsonChunk {
    JsonChunk* next;
    uint32_t used;
    uint32_t capacity;
    uint64_t padding[2]; // keeps the data 16-byte aligned
};
static_assert(sizeof(JsonChunk) % 16 == 0);

namespace {

ObjectTable* gDocuments = nullptr;
int64_t gErrorOffset = -1;

// Objects get a lookup index once they hold this many members; below it the 64 chains
// are short enough.
constexpr int64_t kIndexFrom = 32;

void* ChunkAllocate(JsonChunk** chunks, size_t bytes) {
    bytes = (bytes + 15) & ~size_t{15};
    JsonChunk* c = *chunks;
    if (!c || c->capacity - c->used < bytes) {
        size_t capacity = c ? (c->capacity < 16384 ? c->capacity * 2 : c->capacity) : 256;
        if (capacity < bytes) capacity = bytes;
        if (capacity > UINT32_MAX) return nullptr;
        auto* fresh = static_cast<JsonChunk*>(RuntimeAllocate(sizeof(JsonChunk) + capacity));
        if (!fresh) return nullptr;
        fresh->capacity = uint32_t(capacity);
        fresh->next = c;
        *chunks = fresh;
        c = fresh;
    }
    void* p = reinterpret_cast<char*>(c + 1) + c->used;
    c->used += uint32_t(bytes);
    return p;
}

void ChunksFree(JsonChunk* c) {
    while (c) {
        JsonChunk* next = c->next;
        RuntimeFree(c);
        c = next;
    }
}

struct JsonDocument {
    JsonValue* root;
};
static_assert(sizeof(JsonDocument) == 8);

void ErrorRecordInit(void* block) {
    auto* record = static_cast<JsonErrorRecord*>(block);
    record->message[0] = 0;
    record->line = -1;
    record->column = -1;
}

bool NamesEqual(const JsonMember* m, const char16_t* name, size_t length, uint32_t hash,
                bool noCase) {
    if (m->hash != hash || m->nameLength != length) return false;
    if (!noCase) return std::memcmp(m->name, name, length * sizeof(char16_t)) == 0;
    for (size_t i = 0; i < length; ++i)
        if (JsonFoldCase(m->name[i]) != JsonFoldCase(name[i])) return false;
    return true;
}

uint32_t IndexSlot(uint32_t hash, uint32_t mask) {
    return (hash ^ (hash >> 15)) * 0x9E3779B1u >> 8 & mask;
}

// Bits set, without relying on a processor instruction the baseline target may lack.
inline int BitCount(uint64_t x) {
    x = x - (x >> 1 & 0x5555555555555555ull);
    x = (x & 0x3333333333333333ull) + (x >> 2 & 0x3333333333333333ull);
    x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Full;
    return int(x * 0x0101010101010101ull >> 56);
}

int UsedChains(const JsonMemberTable* table) {
    return BitCount(table->occupied);
}

// Position of chain c among the heads of the occupied chains.
int HeadSlot(const JsonMemberTable* table, uint32_t c) {
    return BitCount(table->occupied & ((uint64_t{1} << c) - 1));
}

bool RebuildIndex(JsonMemberTable* table, uint32_t slots) {
    auto** index = static_cast<JsonMember**>(RuntimeAllocate(sizeof(JsonMember*) * slots));
    if (!index) return false;
    for (int h = 0; h < UsedChains(table); ++h)
        for (JsonMember* m = table->heads[h]; m; m = m->next) {
            uint32_t s = IndexSlot(m->hash, slots - 1);
            m->indexNext = index[s];
            index[s] = m;
        }
    RuntimeFree(table->index);
    table->index = index;
    table->indexMask = slots - 1;
    return true;
}

JsonMember* FindMember(const JsonMemberTable* table, const char16_t* name, size_t length,
                       uint32_t hash) {
    bool noCase = table->noCase != 0;
    if (table->index) {
        for (JsonMember* m = table->index[IndexSlot(hash, table->indexMask)]; m; m = m->indexNext)
            if (NamesEqual(m, name, length, hash, noCase)) return m;
        return nullptr;
    }
    uint32_t c = hash % JsonChainCount;
    if (!(table->occupied >> c & 1)) return nullptr;
    for (JsonMember* m = table->heads[HeadSlot(table, c)]; m; m = m->next)
        if (NamesEqual(m, name, length, hash, noCase)) return m;
    return nullptr;
}

void FreeContent(JsonValue* value) {
    switch (value->type) {
    case JsonString:
        if (value->isDouble != json_internal::Embedded) RuntimeFree(value->text);
        break;
    case JsonArray:
        if (JsonElementList* list = value->elements) {
            for (JsonElement* e = list->first; e; e = e->next) FreeContent(&e->value);
            ChunksFree(list->chunks);
            if (value->isDouble != json_internal::Embedded) RuntimeFree(list);
        }
        break;
    case JsonObject:
        if (JsonMemberTable* table = value->members) {
            for (int h = 0; h < UsedChains(table); ++h)
                for (JsonMember* m = table->heads[h]; m; m = m->next) FreeContent(&m->value);
            ChunksFree(table->chunks);
            RuntimeFree(table->index);
            if (table->heads != table->firstHeads && !table->headsShared) RuntimeFree(table->heads);
            if (value->isDouble != json_internal::Embedded) RuntimeFree(table);
        }
        break;
    default:
        break;
    }
}

} // namespace

// ---- Names -------------------------------------------------------------------------------

char16_t JsonFoldCase(char16_t c) {
    if (c < 0x80) return c >= 'A' && c <= 'Z' ? char16_t(c + 32) : c;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return char16_t(c + 32);
    if (c >= 0x100 && c <= 0x17F) {
        // Latin Extended-A pairs capital and small letters as even/odd, except around
        // U+0130..U+0149 (odd/even) and U+0178..U+017E.
        if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
        if (c == 0x178) return 0xFF;
        if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
            return c & 1 ? char16_t(c + 1) : c;
        return c & 1 ? c : char16_t(c + 1);
    }
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return char16_t(c + 32);
    if (c >= 0x410 && c <= 0x42F) return char16_t(c + 32);
    if (c >= 0x400 && c <= 0x40F) return char16_t(c + 80);
    return c;
}

uint32_t JsonNameHash(const char16_t* name, bool noCase) {
    uint32_t h = 0;
    if (!name) return 0;
    if (noCase)
        for (; *name; ++name) h = h * 65599u + JsonFoldCase(*name);
    else
        for (; *name; ++name) h = h * 65599u + *name;
    return h;
}

// ---- Values ------------------------------------------------------------------------------

void JsonValueClear(JsonValue* value) {
    if (!value) return;
    uint16_t flags = value->flags;
    FreeContent(value);
    std::memset(value, 0, sizeof *value);
    value->flags = flags;
}

void JsonValueDestroy(JsonValue* value) {
    if (!value) return;
    FreeContent(value);
    RuntimeFree(value);
}

void JsonSetNull(JsonValue* value) {
    JsonValueClear(value);
}

void JsonSetBoolean(JsonValue* value, int64_t b) {
    if (!value) return;
    JsonValueClear(value);
    value->type = JsonBoolean;
    value->boolean = b ? 1 : 0;
}

void JsonSetInteger(JsonValue* value, int64_t n) {
    if (!value) return;
    JsonValueClear(value);
    value->type = JsonNumber;
    value->integer = n;
}

void JsonSetDouble(JsonValue* value, double x) {
    if (!value) return;
    JsonValueClear(value);
    value->type = JsonNumber;
    value->isDouble = 1;
    value->real = x;
}

bool JsonSetStringLength(JsonValue* value, const char16_t* text, size_t length) {
    if (!value) return false;
    // Copy before the old content goes: the text may be (part of) the value's own string.
    char16_t* copy = nullptr;
    if (text && length) {
        copy = static_cast<char16_t*>(RuntimeAllocate((length + 1) * sizeof(char16_t)));
        if (copy) {
            std::memcpy(copy, text, length * sizeof(char16_t));
            copy[length] = 0;
        }
    }
    JsonValueClear(value);
    value->type = JsonString;
    value->text = copy;
    return copy || !text || !length;
}

bool JsonSetString(JsonValue* value, const char16_t* text) {
    size_t length = 0;
    if (text)
        while (text[length]) ++length;
    return JsonSetStringLength(value, text, length);
}

bool JsonSetArray(JsonValue* value) {
    if (!value) return false;
    JsonValueClear(value);
    auto* list = static_cast<JsonElementList*>(RuntimeAllocate(sizeof(JsonElementList)));
    if (!list) return false;
    value->type = JsonArray;
    value->elements = list;
    return true;
}

bool JsonSetObject(JsonValue* value) {
    if (!value) return false;
    JsonValueClear(value);
    auto* table = static_cast<JsonMemberTable*>(RuntimeAllocate(sizeof(JsonMemberTable)));
    if (!table) return false;
    table->noCase = value->flags != 0;
    table->heads = table->firstHeads;
    table->headCapacity = JsonFirstHeads;
    value->type = JsonObject;
    value->members = table;
    return true;
}

namespace {

using json_internal::NewValue;

// Room in a new member's or element's block for what its value starts with.
size_t ExtraBytes(NewValue kind, size_t textLength) {
    switch (kind) {
    case NewValue::String:
        return textLength ? (textLength + 1) * sizeof(char16_t) : 0;
    case NewValue::Object:
        return sizeof(JsonMemberTable) + 8;
    case NewValue::Array:
        return sizeof(JsonElementList) + 8;
    default:
        return 0;
    }
}

// Starts a new value in the block of its element or member (at is the free room there);
// value->flags are already set. Such a text or container record is marked Embedded and is
// not freed on its own.
void Embed(JsonValue* value, char* at, NewValue kind, const char16_t* text, size_t length) {
    // Records go to the next multiple of 8 (ExtraBytes allows for it); texts need only 2.
    if (kind == NewValue::Object || kind == NewValue::Array)
        at = reinterpret_cast<char*>((reinterpret_cast<uintptr_t>(at) + 7) & ~uintptr_t{7});
    switch (kind) {
    case NewValue::String:
        value->type = JsonString;
        if (!length) return;
        std::memcpy(at, text, length * sizeof(char16_t));
        reinterpret_cast<char16_t*>(at)[length] = 0;
        value->text = reinterpret_cast<char16_t*>(at);
        break;
    case NewValue::Object: {
        auto* table = reinterpret_cast<JsonMemberTable*>(at);
        table->noCase = value->flags != 0;
        table->heads = table->firstHeads;
        table->headCapacity = JsonFirstHeads;
        value->type = JsonObject;
        value->members = table;
        break;
    }
    case NewValue::Array:
        value->type = JsonArray;
        value->elements = reinterpret_cast<JsonElementList*>(at);
        break;
    default:
        return;
    }
    value->isDouble = json_internal::Embedded;
}

// The same for a member that already existed (its value just cleared).
bool Start(JsonValue* value, NewValue kind, const char16_t* text, size_t length) {
    switch (kind) {
    case NewValue::String:
        return JsonSetStringLength(value, text, length);
    case NewValue::Object:
        return JsonSetObject(value);
    case NewValue::Array:
        return JsonSetArray(value);
    default:
        return true;
    }
}

} // namespace

JsonValue* JsonArrayAppend(JsonValue* array) {
    return json_internal::AppendValue(array, NewValue::Null, nullptr, 0, nullptr);
}

JsonValue* json_internal::AppendValue(JsonValue* array, NewValue kind, const char16_t* text,
                                      size_t length, JsonChunk** chunks) {
    if (!array || array->type != JsonArray || !array->elements) return nullptr;
    auto* e =
        static_cast<JsonElement*>(ChunkAllocate(chunks ? chunks : &array->elements->chunks,
                                                sizeof(JsonElement) + ExtraBytes(kind, length)));
    if (!e) return nullptr;
    e->value.flags = array->flags;
    Embed(&e->value, reinterpret_cast<char*>(e + 1), kind, text, length);
    JsonElementList* list = array->elements;
    e->previous = list->last;
    if (list->last)
        list->last->next = e;
    else
        list->first = e;
    list->last = e;
    ++list->count;
    return &e->value;
}

namespace {

uint32_t HashOf(const char16_t* name, size_t length, bool noCase) {
    uint32_t h = 0;
    if (noCase)
        for (size_t i = 0; i < length; ++i) h = h * 65599u + JsonFoldCase(name[i]);
    else
        for (size_t i = 0; i < length; ++i) h = h * 65599u + name[i];
    return h;
}

} // namespace

JsonValue* JsonObjectSetMember(JsonValue* object, const char16_t* name) {
    if (!name) name = u"";
    size_t length = 0;
    while (name[length]) ++length;
    return json_internal::SetMember(object, name, length);
}

JsonValue* json_internal::SetMember(JsonValue* object, const char16_t* name, size_t length) {
    return SetMemberValue(object, name, length, NewValue::Null, nullptr, 0, nullptr);
}

JsonValue* json_internal::SetMemberValue(JsonValue* object, const char16_t* name, size_t length,
                                         NewValue kind, const char16_t* text, size_t textLength,
                                         JsonChunk** chunks) {
    if (!object || object->type != JsonObject || !object->members) return nullptr;
    JsonMemberTable* table = object->members;
    uint32_t hash = HashOf(name, length, table->noCase != 0);
    if (JsonMember* m = FindMember(table, name, length, hash)) {
        JsonValueClear(&m->value);
        m->value.flags = object->flags;
        if (!Start(&m->value, kind, text, textLength)) return nullptr;
        return &m->value;
    }
    if (length > UINT32_MAX) return nullptr;
    uint32_t c = hash % JsonChainCount;
    int slot = HeadSlot(table, c);
    bool newChain = !(table->occupied >> c & 1);
    if (!chunks) chunks = &table->chunks;
    if (newChain && uint32_t(UsedChains(table)) == table->headCapacity) {
        // More heads: from the chunks while a parse fills the object, else on their own.
        uint32_t capacity = table->headCapacity * 4 < 64 ? table->headCapacity * 4 : 64;
        size_t bytes = capacity * sizeof(JsonMember*);
        bool own = table->heads != table->firstHeads && !table->headsShared;
        bool shared = chunks != &table->chunks;
        auto** heads = static_cast<JsonMember**>(shared ? ChunkAllocate(chunks, bytes)
                                                 : own  ? RuntimeReallocate(table->heads, bytes)
                                                        : RuntimeAllocate(bytes));
        if (!heads) return nullptr;
        if (!own || shared)
            std::memcpy(heads, table->heads, table->headCapacity * sizeof(JsonMember*));
        if (own && shared) RuntimeFree(table->heads);
        table->heads = heads;
        table->headCapacity = uint16_t(capacity);
        table->headsShared = shared;
    }
    auto* m = static_cast<JsonMember*>(ChunkAllocate(chunks, sizeof(JsonMember) +
                                                                 (length + 1) * sizeof(char16_t) +
                                                                 ExtraBytes(kind, textLength)));
    if (!m) return nullptr;
    m->name = reinterpret_cast<char16_t*>(m + 1);
    if (length) std::memcpy(m->name, name, length * sizeof(char16_t));
    m->hash = hash;
    m->nameLength = uint32_t(length);
    m->value.flags = object->flags;
    Embed(&m->value, reinterpret_cast<char*>(m->name + length + 1), kind, text, textLength);
    if (newChain) {
        std::memmove(table->heads + slot + 1, table->heads + slot,
                     size_t(UsedChains(table) - slot) * sizeof(JsonMember*));
        table->heads[slot] = nullptr;
        table->occupied |= uint64_t{1} << c;
    }
    m->next = table->heads[slot];
    table->heads[slot] = m;
    ++table->count;
    if (table->index) {
        uint32_t s = IndexSlot(hash, table->indexMask);
        m->indexNext = table->index[s];
        table->index[s] = m;
    }
    // Keep the index at most about one member per slot. Should memory for a larger index
    // be short, lookups just get slower.
    if (table->count >= kIndexFrom && uint64_t(table->count) > uint64_t(table->indexMask) + 1) {
        uint64_t slots = 64;
        while (slots < uint64_t(table->count) * 2) slots *= 2;
        if (slots <= (uint64_t{1} << 31)) RebuildIndex(table, uint32_t(slots));
    }
    return &m->value;
}

JsonValue* JsonObjectFind(const JsonValue* object, const char16_t* name) {
    if (!object || object->type != JsonObject || !object->members) return nullptr;
    if (!name) name = u"";
    size_t length = 0;
    while (name[length]) ++length;
    uint32_t hash = HashOf(name, length, object->members->noCase != 0);
    JsonMember* m = FindMember(object->members, name, length, hash);
    return m ? &m->value : nullptr;
}

int64_t JsonMemberCount(const JsonValue* object) {
    return object && object->type == JsonObject && object->members ? object->members->count : 0;
}

int64_t JsonElementCount(const JsonValue* array) {
    return array && array->type == JsonArray && array->elements ? array->elements->count : 0;
}

JsonValue* JsonArrayFirst(const JsonValue* array) {
    if (!array || array->type != JsonArray || !array->elements || !array->elements->first)
        return nullptr;
    return &array->elements->first->value;
}

JsonValue* JsonArrayNext(const JsonValue* element) {
    if (!element) return nullptr;
    auto* e = reinterpret_cast<const JsonElement*>(reinterpret_cast<const char*>(element) -
                                                   offsetof(JsonElement, value));
    return e->next ? &e->next->value : nullptr;
}

JsonMember* JsonObjectFirstMember(const JsonValue* object) {
    if (!object || object->type != JsonObject || !object->members) return nullptr;
    return object->members->occupied ? object->members->heads[0] : nullptr;
}

JsonMember* JsonObjectNextMember(const JsonValue* object, const JsonMember* member) {
    if (!member || !object || object->type != JsonObject || !object->members) return nullptr;
    if (member->next) return member->next;
    const JsonMemberTable* table = object->members;
    int next = HeadSlot(table, member->hash % JsonChainCount) + 1;
    return next < UsedChains(table) ? table->heads[next] : nullptr;
}

int64_t JsonGetInteger(const JsonValue* value) {
    if (!value) return 0;
    if (value->type == JsonBoolean) return value->boolean;
    if (value->type != JsonNumber) return 0;
    if (!value->isDouble) return value->integer;
    double x = value->real;
    if (!(x >= -9223372036854775808.0 && x < 9223372036854775808.0)) return INT64_MIN;
    return static_cast<int64_t>(x);
}

double JsonGetDouble(const JsonValue* value) {
    if (!value) return 0.0;
    if (value->type == JsonBoolean) return double(value->boolean);
    if (value->type != JsonNumber) return 0.0;
    return value->isDouble ? value->real : double(value->integer);
}

float JsonGetFloat(const JsonValue* value) {
    if (!value) return 0.0f;
    if (value->type == JsonBoolean) return float(value->boolean);
    if (value->type != JsonNumber) return 0.0f;
    return value->isDouble ? float(value->real) : float(value->integer);
}

const char16_t* JsonGetString(const JsonValue* value) {
    if (!value || value->type != JsonString) return nullptr;
    return value->text ? value->text : u"";
}

// ---- Documents ---------------------------------------------------------------------------

namespace json_internal {

ObjectTable* DocumentTable() {
    return gDocuments;
}

JsonErrorRecord* ErrorRecord() {
    static JsonErrorRecord fallback; // before the library has started
    if (gErrorOffset < 0) return &fallback;
    auto* record = static_cast<JsonErrorRecord*>(ThreadLocalGet(gErrorOffset));
    return record ? record : &fallback;
}

intptr_t StoreDocument(int64_t number, JsonValue* root) {
    auto* doc = static_cast<JsonDocument*>(ObjectAllocate(gDocuments, number));
    if (!doc) return 0;
    doc->root = root;
    return reinterpret_cast<intptr_t>(doc);
}

} // namespace json_internal

void JsonLibraryInit() {
    if (!gDocuments) gDocuments = ObjectTableCreate(sizeof(JsonDocument), 8, JsonFree);
    if (gErrorOffset < 0)
        gErrorOffset = ThreadLocalRegister(sizeof(JsonErrorRecord), ErrorRecordInit, nullptr);
}

void JsonLibraryShutdown() {
    if (gDocuments) ObjectReleaseAll(gDocuments);
}

const JsonErrorRecord* JsonLastError() {
    return json_internal::ErrorRecord();
}

intptr_t JsonCreate(int64_t number, int32_t flags) {
    auto* root = static_cast<JsonValue*>(RuntimeAllocate(sizeof(JsonValue)));
    if (!root) return 0;
    intptr_t id = json_internal::StoreDocument(number, root);
    if (!id) {
        RuntimeFree(root);
        return 0;
    }
    root->flags = uint16_t(flags & JsonNoCase);
    return id;
}

void JsonFree(int64_t number) {
    if (number == AnyNumber) {
        if (gDocuments) ObjectReleaseAll(gDocuments);
        return;
    }
    auto* doc = static_cast<JsonDocument*>(ObjectGet(gDocuments, number));
    if (!doc) return;
    JsonValue* root = doc->root;
    doc->root = nullptr;
    JsonValueDestroy(root);
    ObjectRelease(gDocuments, number);
}

JsonValue* JsonRoot(int64_t number) {
    auto* doc = static_cast<JsonDocument*>(ObjectGet(gDocuments, number));
    return doc ? doc->root : nullptr;
}
