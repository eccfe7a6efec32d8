// The description of a record's fields for the code that copies, clears and maps records:
// the type codes of fields and container elements, and the table of the fields that own
// memory (strings and containers), so that clearing or releasing a record takes them along.
#pragma once

#include <cstddef>
#include <cstdint>

// Type codes of record fields and container elements.
enum TypeCode : uint8_t {
    TypeInt8 = 1,
    TypeInt16 = 3,
    TypeInt32 = 5,
    TypeStructure = 7,    // a nested record
    TypeString = 8,       // a RuntimeString (one pointer)
    TypeFloat = 9,        // 32-bit float
    TypeFixedString = 10, // UTF-16 units stored in the record itself
    TypeChar = 11,        // one UTF-16 unit
    TypeDouble = 12,
    TypeInt64 = 13,
    TypeIntPtr = 21, // signed integer of pointer width
    TypeUInt8 = 24,
    TypeUInt16 = 25,
};

struct DynamicFieldTable;

// ---- Fields that own memory --------------------------------------------------------------

enum class DynamicFieldKind : uint8_t {
    String,    // RuntimeString
    List,      // RuntimeList*
    Map,       // RuntimeMap*
    Array,     // data pointer of a RuntimeArray
    Structure, // nested record (or static array of records) with such fields inside
};

struct DynamicField {
    DynamicFieldKind kind;
    int32_t offset;
    int32_t count;  // elements of a static array; 1 for a single field
    int32_t stride; // bytes between static array elements
    // Containers: what they hold, and how many dimensions an array has.
    int32_t elementType;
    int32_t elementSize;
    int32_t dimensions;
    // Structure: the nested record's own table. Containers: the table of their elements
    // when these are records that own memory.
    const DynamicFieldTable* elementFields;
};

struct DynamicFieldTable {
    const DynamicField* fields;
    int32_t count;
};

// Releases every string and container of the record listed in table, sets all size bytes
// to 0 and creates the table's containers again, empty (a container that cannot be had for
// lack of memory stays null). A null table just zero-fills; a null record does nothing.
// A record is used by one thread at a time.
void StructureClear(void* structure, size_t size, const DynamicFieldTable* table);
// Releases the strings and containers only (the record is about to go away). A null record
// or table does nothing.
void StructureRelease(void* structure, const DynamicFieldTable* table);
