// Containers that records can hold: lists, maps and multi-dimensional arrays. Element types
// are the type codes of record_fields.h; the JSON library maps records holding these
// containers to and from JSON. A container is used by one thread at a time: none of them
// locks. Every operation accepts a null container (or element): it then does nothing and
// returns null, 0, false or, for a key, the empty text. Creation returns null when memory
// is short or elementSize is negative.
#pragma once

#include "record_fields.h"

#include <cstddef>
#include <cstdint>

// ---- Lists -------------------------------------------------------------------------------

struct RuntimeList;

// A list of zero-filled elements of elementSize bytes. elementFields, when given, is the
// table of records held as elements, so that their strings and containers go with them.
RuntimeList* RuntimeListCreate(int32_t elementType, int32_t elementSize,
                               const DynamicFieldTable* elementFields = nullptr);
void RuntimeListFree(RuntimeList* list);
void RuntimeListClear(RuntimeList* list);
// Appends a zero-filled element; null when memory is short.
void* RuntimeListAdd(RuntimeList* list);
int64_t RuntimeListSize(const RuntimeList* list);
// Walks the elements in order: First, then Next until null.
void* RuntimeListFirst(const RuntimeList* list);
void* RuntimeListNext(const RuntimeList* list, const void* element);
int32_t RuntimeListElementType(const RuntimeList* list);
int32_t RuntimeListElementSize(const RuntimeList* list);

// ---- Maps --------------------------------------------------------------------------------

struct RuntimeMap;

// Elements keyed by UTF-16 text (exact comparison), kept in the order of their adding. The
// map has a current element, moved by RuntimeMapReset/RuntimeMapNext.
RuntimeMap* RuntimeMapCreate(int32_t elementType, int32_t elementSize,
                             const DynamicFieldTable* elementFields = nullptr);
void RuntimeMapFree(RuntimeMap* map);
void RuntimeMapClear(RuntimeMap* map);
// The element under key, added zero-filled when there is none; it becomes the current one.
// Null when memory is short.
void* RuntimeMapAdd(RuntimeMap* map, const char16_t* key);
void* RuntimeMapFind(const RuntimeMap* map, const char16_t* key);
int64_t RuntimeMapSize(const RuntimeMap* map);
// Iteration: Reset puts the position before the first element; Next moves on and returns
// the new current element, or null past the last.
void RuntimeMapReset(RuntimeMap* map);
void* RuntimeMapNext(RuntimeMap* map);
// The key of an element of this map.
const char16_t* RuntimeMapKey(const void* element);
// The iteration position, to be put back with RuntimeMapSetPosition.
void* RuntimeMapPosition(const RuntimeMap* map);
void RuntimeMapSetPosition(RuntimeMap* map, void* position);
int32_t RuntimeMapElementType(const RuntimeMap* map);
int32_t RuntimeMapElementSize(const RuntimeMap* map);

// ---- Arrays ------------------------------------------------------------------------------

// An array is handed around as the address of its data: elements in row-major order (the
// last index varies fastest), with the header in front of the data. The data address stays
// non-null while the array exists, also with no element at all.
constexpr int32_t RuntimeArrayMaxDimensions = 8;

// Null also for dimensions outside 1..RuntimeArrayMaxDimensions or a negative size.
void* RuntimeArrayCreate(int32_t elementType, int32_t elementSize, int32_t dimensions,
                         const int64_t* sizes, const DynamicFieldTable* elementFields = nullptr);
// Gives the array new sizes (one per dimension), zero-filled; the old elements are
// released. Returns false, the array unchanged, when memory is short or a size is negative.
[[nodiscard]] bool RuntimeArrayResize(void** data, const int64_t* sizes);
void RuntimeArrayFree(void* data);
int32_t RuntimeArrayDimensions(const void* data);
int64_t RuntimeArrayDimensionSize(const void* data, int32_t dimension);
int64_t RuntimeArrayElementCount(const void* data);
int32_t RuntimeArrayElementType(const void* data);
int32_t RuntimeArrayElementSize(const void* data);
