// Values, member tables, element sequences and the document table.
#include "json_internal.h"
#include "runtime/strings.h"

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

using namespace json_internal;

namespace {

struct JsonDocument {
    JsonValue* root;
};

ObjectTableOf<JsonDocument> gDocuments;
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

bool OwnsPayload(const JsonValue* value) {
    return !(value->flags & PayloadEmbedded);
}

void FreeContent(JsonValue* value) {
    switch (value->type) {
    case JsonString:
        if (OwnsPayload(value)) RuntimeFree(value->text);
        break;
    case JsonArray:
        if (JsonElementList* list = value->elements) {
            for (JsonElement* e = list->first; e; e = e->next) FreeContent(&e->value);
            ChunksFree(list->chunks);
            if (OwnsPayload(value)) RuntimeFree(list);
        }
        break;
    case JsonObject:
        if (JsonMemberTable* table = value->members) {
            for (int h = 0; h < UsedChains(table); ++h)
                for (JsonMember* m = table->heads[h]; m; m = m->next) FreeContent(&m->value);
            ChunksFree(table->chunks);
            RuntimeFree(table->index);
            if (table->headsHome == HeadsOnHeap) RuntimeFree(table->heads);
            if (OwnsPayload(value)) RuntimeFree(table);
        }
        break;
    default:
        break;
    }
}

// Makes value an object with the zero-filled table, under the value's case rule.
void StartMemberTable(JsonValue* value, JsonMemberTable* table) {
    table->noCase = (value->flags & JsonNoCase) != 0;
    table->heads = table->firstHeads;
    table->headCapacity = JsonFirstHeads;
    value->type = JsonObject;
    value->members = table;
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

uint32_t json_internal::NameHash(const char16_t* name, size_t length, bool noCase) {
    constexpr uint32_t kMultiplier = 65599;
    uint32_t h = 0;
    if (noCase)
        for (size_t i = 0; i < length; ++i) h = h * kMultiplier + JsonFoldCase(name[i]);
    else
        for (size_t i = 0; i < length; ++i) h = h * kMultiplier + name[i];
    return h;
}

uint32_t JsonNameHash(const char16_t* name, bool noCase) {
    size_t length = 0;
    if (name)
        while (name[length]) ++length;
    return NameHash(name, length, noCase);
}

// ---- Values ------------------------------------------------------------------------------

void JsonValueClear(JsonValue* value) {
    if (!value) return;
    uint16_t flags = value->flags & InheritedFlags;
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
    StartMemberTable(value, table);
    return true;
}

namespace {

// Room in a new member's or element's block for what its value starts with.
size_t ExtraBytes(const ValueStart& start) {
    switch (start.kind) {
    case NewValue::String:
        return start.length ? (start.length + 1) * sizeof(char16_t) : 0;
    case NewValue::Object:
        return sizeof(JsonMemberTable) + 8;
    case NewValue::Array:
        return sizeof(JsonElementList) + 8;
    default:
        return 0;
    }
}

// Starts a new value in the block of its element or member (at is the free room there);
// the inherited flags are already set. The text or container record is marked
// PayloadEmbedded, so that it is not freed on its own.
void Embed(JsonValue* value, char* at, const ValueStart& start) {
    // Records go to the next multiple of 8 (ExtraBytes allows for it); texts need only 2.
    if (start.kind == NewValue::Object || start.kind == NewValue::Array)
        at = reinterpret_cast<char*>((reinterpret_cast<uintptr_t>(at) + 7) & ~uintptr_t{7});
    switch (start.kind) {
    case NewValue::String:
        value->type = JsonString;
        if (!start.length) return;
        std::memcpy(at, start.text, start.length * sizeof(char16_t));
        reinterpret_cast<char16_t*>(at)[start.length] = 0;
        value->text = reinterpret_cast<char16_t*>(at);
        break;
    case NewValue::Object: {
        StartMemberTable(value, reinterpret_cast<JsonMemberTable*>(at));
        break;
    }
    case NewValue::Array:
        value->type = JsonArray;
        value->elements = reinterpret_cast<JsonElementList*>(at);
        break;
    default:
        return;
    }
    value->flags |= PayloadEmbedded;
}

// The same for a member that already existed: its value is cleared and started the
// ordinary way, with a payload of its own.
JsonValue* Restart(JsonMember* m, const JsonValue* object, const ValueStart& start) {
    JsonValueClear(&m->value);
    m->value.flags = object->flags & InheritedFlags;
    bool ok = true;
    switch (start.kind) {
    case NewValue::String:
        ok = JsonSetStringLength(&m->value, start.text, start.length);
        break;
    case NewValue::Object:
        ok = JsonSetObject(&m->value);
        break;
    case NewValue::Array:
        ok = JsonSetArray(&m->value);
        break;
    default:
        break;
    }
    return ok ? &m->value : nullptr;
}

// Makes room for one more chain head. While a parse fills the object (chunks are not the
// table's own) the heads move into the parse's chunks; otherwise they get a heap block.
bool GrowHeads(JsonMemberTable* table, JsonChunk** chunks) {
    uint32_t capacity = table->headCapacity * 4u < uint32_t(JsonChainCount)
                            ? table->headCapacity * 4u
                            : uint32_t(JsonChainCount);
    size_t bytes = capacity * sizeof(JsonMember*);
    bool toChunks = chunks != &table->chunks;
    bool onHeap = table->headsHome == HeadsOnHeap;
    JsonMember** heads;
    if (toChunks)
        heads = static_cast<JsonMember**>(ChunkAllocate(chunks, bytes));
    else if (onHeap)
        heads = static_cast<JsonMember**>(RuntimeReallocate(table->heads, bytes));
    else
        heads = static_cast<JsonMember**>(RuntimeAllocate(bytes));
    if (!heads) return false;
    if (toChunks || !onHeap)
        std::memcpy(heads, table->heads, table->headCapacity * sizeof(JsonMember*));
    if (toChunks && onHeap) RuntimeFree(table->heads);
    table->heads = heads;
    table->headCapacity = uint16_t(capacity);
    table->headsHome = toChunks ? HeadsInChunks : HeadsOnHeap;
    return true;
}

// Puts a new member at the head of chain c (opening the chain when it is new) and into the
// lookup index, growing the index to about one member per slot. Should memory for a larger
// index be short, lookups just get slower.
void Link(JsonMemberTable* table, JsonMember* m, uint32_t c) {
    int slot = HeadSlot(table, c);
    if (!(table->occupied >> c & 1)) {
        std::memmove(table->heads + slot + 1, table->heads + slot,
                     size_t(UsedChains(table) - slot) * sizeof(JsonMember*));
        table->heads[slot] = nullptr;
        table->occupied |= uint64_t{1} << c;
    }
    m->next = table->heads[slot];
    table->heads[slot] = m;
    ++table->count;
    if (table->index) {
        uint32_t s = IndexSlot(m->hash, table->indexMask);
        m->indexNext = table->index[s];
        table->index[s] = m;
    }
    if (table->count >= kIndexFrom && uint64_t(table->count) > uint64_t(table->indexMask) + 1) {
        uint64_t slots = 64;
        while (slots < uint64_t(table->count) * 2) slots *= 2;
        if (slots <= (uint64_t{1} << 31)) RebuildIndex(table, uint32_t(slots));
    }
}

} // namespace

JsonValue* JsonArrayAppend(JsonValue* array) {
    return AppendValue(array, ValueStart{}, nullptr);
}

JsonValue* json_internal::AppendValue(JsonValue* array, const ValueStart& start,
                                      JsonChunk** chunks) {
    if (!array || array->type != JsonArray || !array->elements) return nullptr;
    auto* e = static_cast<JsonElement*>(ChunkAllocate(chunks ? chunks : &array->elements->chunks,
                                                      sizeof(JsonElement) + ExtraBytes(start)));
    if (!e) return nullptr;
    e->value.flags = array->flags & InheritedFlags;
    Embed(&e->value, reinterpret_cast<char*>(e + 1), start);
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

JsonValue* JsonObjectSetMember(JsonValue* object, const char16_t* name) {
    if (!name) name = u"";
    size_t length = 0;
    while (name[length]) ++length;
    return SetMember(object, name, length);
}

JsonValue* json_internal::SetMember(JsonValue* object, const char16_t* name, size_t length) {
    return SetMemberValue(object, name, length, ValueStart{}, nullptr);
}

JsonValue* json_internal::SetMemberValue(JsonValue* object, const char16_t* name, size_t length,
                                         const ValueStart& start, JsonChunk** chunks) {
    if (!object || object->type != JsonObject || !object->members) return nullptr;
    JsonMemberTable* table = object->members;
    uint32_t hash = NameHash(name, length, table->noCase != 0);
    if (JsonMember* m = FindMember(table, name, length, hash)) return Restart(m, object, start);
    if (length > UINT32_MAX) return nullptr;
    if (!chunks) chunks = &table->chunks;
    uint32_t c = hash % JsonChainCount;
    bool newChain = !(table->occupied >> c & 1);
    if (newChain && uint32_t(UsedChains(table)) == table->headCapacity && !GrowHeads(table, chunks))
        return nullptr;
    size_t nameBytes = (length + 1) * sizeof(char16_t);
    auto* m = static_cast<JsonMember*>(
        ChunkAllocate(chunks, sizeof(JsonMember) + nameBytes + ExtraBytes(start)));
    if (!m) return nullptr;
    m->name = reinterpret_cast<char16_t*>(m + 1);
    if (length) std::memcpy(m->name, name, length * sizeof(char16_t));
    m->hash = hash;
    m->nameLength = uint32_t(length);
    m->value.flags = object->flags & InheritedFlags;
    Embed(&m->value, reinterpret_cast<char*>(m->name + length + 1), start);
    Link(table, m, c);
    return &m->value;
}

JsonValue* JsonObjectFind(const JsonValue* object, const char16_t* name) {
    if (!object || object->type != JsonObject || !object->members) return nullptr;
    if (!name) name = u"";
    size_t length = 0;
    while (name[length]) ++length;
    uint32_t hash = NameHash(name, length, object->members->noCase != 0);
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
    if (!DoubleFitsInt64(x)) return INT64_MIN;
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
    return gDocuments.Table();
}

JsonErrorRecord* ErrorRecord() {
    static JsonErrorRecord fallback; // before the library has started
    if (gErrorOffset < 0) return &fallback;
    auto* record = static_cast<JsonErrorRecord*>(ThreadLocalGet(gErrorOffset));
    return record ? record : &fallback;
}

intptr_t StoreDocument(int64_t number, JsonValue* root) {
    JsonDocument* doc = gDocuments.Allocate(number);
    if (!doc) return 0;
    doc->root = root;
    return reinterpret_cast<intptr_t>(doc);
}

} // namespace json_internal

void JsonLibraryInit() {
    (void)gDocuments.Create(8, JsonFree);
    if (gErrorOffset < 0)
        gErrorOffset = ThreadLocalRegister(sizeof(JsonErrorRecord), ErrorRecordInit, nullptr);
}

void JsonLibraryShutdown() {
    gDocuments.ReleaseAll();
}

const JsonErrorRecord* JsonLastError() {
    return ErrorRecord();
}

intptr_t JsonCreate(int64_t number, int32_t flags) {
    auto* root = static_cast<JsonValue*>(RuntimeAllocate(sizeof(JsonValue)));
    if (!root) return 0;
    intptr_t id = StoreDocument(number, root);
    if (!id) {
        RuntimeFree(root);
        return 0;
    }
    root->flags = uint16_t(flags & JsonNoCase);
    return id;
}

void JsonFree(int64_t number) {
    if (number == AnyNumber) {
        gDocuments.ReleaseAll();
        return;
    }
    JsonDocument* doc = gDocuments.Get(number);
    if (!doc) return;
    JsonValue* root = doc->root;
    doc->root = nullptr;
    JsonValueDestroy(root);
    gDocuments.Release(number);
}

JsonValue* JsonRoot(int64_t number) {
    JsonDocument* doc = gDocuments.Get(number);
    return doc ? doc->root : nullptr;
}
