// Shared between the JSON library's own sources (and its tests); not part of the interface.
#pragma once

#include "json.h"

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

// Decodes UTF-8 into UTF-16 as the system's conversion does: every maximal invalid
// subsequence becomes U+FFFD. out needs room for length units (never more are written);
// returns the number of units.
size_t Utf8ToUtf16(const uint8_t* bytes, size_t length, char16_t* out);

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
            p[0] = uint8_t(0xF0 | c >> 18);
            p[1] = uint8_t(0x80 | (c >> 12 & 0x3F));
            p[2] = uint8_t(0x80 | (c >> 6 & 0x3F));
            p[3] = uint8_t(0x80 | (c & 0x3F));
            fill += 4;
            return true;
        }
        // Only a surrogate carries a second unit; other values are one unit.
        p = Unit(p, first);
        if (second && first >= 0xD800 && first <= 0xDFFF) p = Unit(p, second);
        fill = int32_t(p - buffer);
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

  private:
    static uint8_t* Unit(uint8_t* p, uint32_t c) {
        if (c < 0x80) {
            *p++ = uint8_t(c);
        } else if (c < 0x800) {
            *p++ = uint8_t(0xC0 | c >> 6);
            *p++ = uint8_t(0x80 | (c & 0x3F));
        } else {
            if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;
            *p++ = uint8_t(0xE0 | c >> 12);
            *p++ = uint8_t(0x80 | (c >> 6 & 0x3F));
            *p++ = uint8_t(0x80 | (c & 0x3F));
        }
        return p;
    }
};

// JsonWriteValue from indent 0 into the UTF-8 sink (the caller flushes what remains).
bool WriteUtf8(JsonValue* value, Utf8Sink& sink, int32_t flags);

// Test hooks for saving: a write that would take the total past failWritesAfter bytes fails
// (negative: never); writeObserver sees the size of every block written.
extern int64_t gFailWritesAfter;
extern void (*gWriteObserver)(uint32_t bytes);

} // namespace json_internal
