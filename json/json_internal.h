// Shared between the JSON library's own sources (and its tests); not part of the interface.
#pragma once

#include "json.h"
#include "runtime/utf8.h"

#include <cstdint>

namespace json_internal {

ObjectTable* DocumentTable();
JsonErrorRecord* ErrorRecord();

// Makes the root the document under number (freeing an earlier one); the record's address,
// or 0 when the record cannot be had.
intptr_t StoreDocument(int64_t number, JsonValue* root);

// JsonObjectSetMember with a name of length units (no terminator needed).
JsonValue* SetMember(JsonValue* object, const char16_t* name, size_t length);

// The parser's shortcuts: a new member or element whose value starts as a string (text of
// textLength units), an empty object or an empty array, with the text or the container's
// record in the same block as the member or element. Such a value is marked by isDouble ==
// Embedded, and that part is not freed on its own. A repeated member name gets its value the
// ordinary way.
enum class NewValue { Null, String, Object, Array };
constexpr uint16_t Embedded = 2;
// chunks: where the node comes from; null for the container's own chunks. A parse takes
// every node of the tree from the chunks of the root's container, so that a document lies
// in a few large blocks in the order it is read; a container changed afterwards uses its own
// chunks, and what it held before stays until the root goes.
JsonValue* SetMemberValue(JsonValue* object, const char16_t* name, size_t length, NewValue kind,
                          const char16_t* text, size_t textLength, JsonChunk** chunks);
JsonValue* AppendValue(JsonValue* array, NewValue kind, const char16_t* text, size_t length,
                       JsonChunk** chunks);

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
