// Shared between the JSON library's own sources (and its tests); not part of the interface.
#pragma once

#include "json.h"
#include "runtime/utf8.h"

#include <cstdint>

// ---- Layout of containers ----------------------------------------------------------------

struct JsonElement {
    JsonElement* next;
    JsonElement* previous;
    JsonValue value;
};

struct JsonElementList {
    JsonElement* first;
    JsonElement* last;
    int64_t count;
    JsonChunk* chunks;
};

// Objects keep their members in 64 chains, chosen by the hash of the name; the chains fix
// the order in which members are enumerated and written (chain 0 to 63, newest first within
// a chain). Only the heads of chains in use are stored, in chain order, so that small
// objects stay small. Large objects add a lookup index on top, so that finding a name stays
// cheap.
constexpr int JsonChainCount = 64;
constexpr int JsonFirstHeads = 4; // heads kept in the table itself

struct JsonMemberTable {
    uint64_t occupied;  // bit c is set while chain c holds members
    JsonMember** heads; // the heads of the occupied chains, in chain order
    int64_t count;
    int32_t noCase;
    uint16_t headCapacity;
    uint16_t headsHome; // json_internal::HeadsHome: who owns the heads
    uint32_t indexMask; // index slots - 1, or 0 while there is no index
    JsonMember** index;
    JsonChunk* chunks;
    JsonMember* firstHeads[JsonFirstHeads];
};

namespace json_internal {

ObjectTable* DocumentTable();
JsonErrorRecord* ErrorRecord();

// Makes the root the document under number (freeing an earlier one); the record's address,
// or 0 when the record cannot be had.
intptr_t StoreDocument(int64_t number, JsonValue* root);

// JsonObjectSetMember with a name of length units (no terminator needed).
JsonValue* SetMember(JsonValue* object, const char16_t* name, size_t length);

// ---- Ownership -------------------------------------------------------------------------

// Bits of JsonValue::flags. The caller's bits (JsonNoCase) pass from a container to its new
// elements and members; PayloadEmbedded is the value's own and is never inherited.
constexpr uint16_t InheritedFlags = JsonNoCase;
// The value's text or container record lies in the block of its member or element (the
// parser's shortcut) and is not freed on its own: it goes with the container's chunks.
constexpr uint16_t PayloadEmbedded = 0x8000;

// Where the heads of a member table's chains live.
enum HeadsHome : uint16_t {
    HeadsInTable = 0, // firstHeads, inside the table
    HeadsOnHeap = 1,  // a block of their own, freed with the table
    HeadsInChunks = 2 // chunks of this or an enclosing container, freed with those
};

// ---- Building trees --------------------------------------------------------------------

// What a new member or element starts as: null, or (the parser's shortcuts) a string (text
// of length units), an empty object or an empty array, with the text or the container's
// record in the same block as the member or element (marked PayloadEmbedded). A repeated
// member name gets its value the ordinary way.
enum class NewValue { Null, String, Object, Array };
struct ValueStart {
    NewValue kind = NewValue::Null;
    const char16_t* text = nullptr;
    size_t length = 0;
};

// chunks: where the node comes from; null for the container's own chunks. A parse takes
// every node of the tree from the chunks of the root's container, so that a document lies
// in a few large blocks in the order it is read; a container changed afterwards uses its own
// chunks, and what it held before stays until the root goes. Null when memory is short or
// the container is of another type.
JsonValue* SetMemberValue(JsonValue* object, const char16_t* name, size_t length,
                          const ValueStart& start, JsonChunk** chunks);
JsonValue* AppendValue(JsonValue* array, const ValueStart& start, JsonChunk** chunks);

// The member-name hash of JsonNameHash over length units.
uint32_t NameHash(const char16_t* name, size_t length, bool noCase);

// The runtime's decoder, under the name the library has always used.
using ::Utf8ToUtf16;

// The save's sink: the writer's characters as UTF-8 in a 4096-byte buffer that is handed to
// flush whenever it holds 4092 bytes or more before a character is added, so every block but
// the last carries 4092 to 4095 bytes. A surrogate without its partner becomes U+FFFD; a
// terminating 0 is never written.
struct Utf8Sink {
    static constexpr int32_t Size = 4096;
    static constexpr int32_t FlushAt = 4092;

    uint8_t* buffer;
    int32_t fill;
    // Takes the fill bytes; fill is 0 afterwards whatever happens. False refuses the write.
    bool (*flush)(Utf8Sink* sink);
    void* context;

    bool Put(uint32_t v) {
        if (fill >= FlushAt && !flush(this)) return false;
        uint8_t* p = buffer + fill;
        if (v < 0x80) {
            *p = uint8_t(v);
            ++fill;
            return true;
        }
        uint32_t first = v & 0xFFFF, second = v >> 16;
        if (first >= 0xD800 && first <= 0xDBFF && second >= 0xDC00 && second <= 0xDFFF) {
            uint32_t c = 0x10000 + ((first - 0xD800) << 10) + (second - 0xDC00);
            fill += int32_t(Utf8Encode(c, p));
            return true;
        }
        // Only a surrogate carries a second unit; other values are one unit.
        size_t n = Utf8Encode(first, p);
        if (second && IsSurrogate(first)) n += Utf8Encode(second, p + n);
        fill += int32_t(n);
        return true;
    }

    // Units below 0x80, as Put would take them one by one (the same blocks), in one go.
    template <class Unit> bool PutAscii(const Unit* run, size_t n) {
        while (n) {
            if (fill >= FlushAt && !flush(this)) return false;
            size_t take = size_t(FlushAt - fill);
            if (take > n) take = n;
            uint8_t* p = buffer + fill;
            for (size_t i = 0; i < take; ++i) p[i] = uint8_t(run[i]);
            fill += int32_t(take);
            run += take;
            n -= take;
        }
        return true;
    }
};

// JsonWriteValue from indent 0 into the UTF-8 sink (the caller flushes what remains).
bool WriteUtf8(JsonValue* value, Utf8Sink& sink, int32_t flags);

// Test hooks for saving: a write that would take the total past failWritesAfter bytes fails
// (negative: never); writeObserver sees the size of every block written.
extern int64_t gFailWritesAfter;
extern void (*gWriteObserver)(uint32_t bytes);

} // namespace json_internal
