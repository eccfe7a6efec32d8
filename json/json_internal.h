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

// Decodes UTF-8 into UTF-16 as the system's conversion does: every maximal invalid
// subsequence becomes U+FFFD. out needs room for length units (never more are written);
// returns the number of units.
size_t Utf8ToUtf16(const uint8_t* bytes, size_t length, char16_t* out);

// Test hooks for saving: a write that would take the total past failWritesAfter bytes fails
// (negative: never); writeObserver sees the size of every block written.
extern int64_t gFailWritesAfter;
extern void (*gWriteObserver)(uint32_t bytes);

} // namespace json_internal
