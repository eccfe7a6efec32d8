// The fuzz target's check, shared with the ordinary tests that replay its corpus.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct JsonValue;

// Parses bytes as a file's content; when they parse, writes the tree compact and pretty,
// parses both texts again and compares the trees with the first. Returns the first
// difference found, or an empty text.
std::string JsonRoundTrip(const uint8_t* data, size_t size);

// Whether a tree read back from the writer's text holds what the written tree held: the
// same structure, names (in any order) and texts; numbers of the same value (a whole double may
// come back as an integer); a NaN or infinity as null.
bool JsonTreesEquivalent(const JsonValue* written, const JsonValue* reread);

// The writer's output as UTF-16 text (surrogate pairs split again).
std::u16string JsonWriteToText(JsonValue* value, int32_t flags);
