// The JSON library: value trees owned by numbered documents, the parser, the writer, the
// mapping between records and JSON objects, and files.
//
// Threads: the document table has a lock, so documents may be created, looked up and freed
// from any thread; a value tree itself has none and is used by one thread at a time. The
// record of the last parse error is per thread. The library is started by JsonLibraryInit
// (through RuntimeUse(JsonLibrary()) and RuntimeInit) before any document is made.
#pragma once

#include "runtime/objects.h"
#include "runtime/record_fields.h"
#include "runtime/runtime.h"

#include <cstddef>
#include <cstdint>

enum JsonType : int32_t {
    JsonNull = 0,
    JsonString = 1,
    JsonNumber = 2,
    JsonBoolean = 3,
    JsonArray = 4,
    JsonObject = 5,
};

// Flags of writes, values, parses and the mapping.
constexpr int32_t JsonPrettyPrint = 1; // write: the indented layout
constexpr int32_t JsonNoCase = 2;      // member names compared without regard to case
constexpr int32_t JsonNoClear = 4;     // extract: keep the record's fields that have no member

struct JsonValue;  // a value: laid out at the bottom of this header
struct JsonMember; // a member of an object: laid out at the bottom of this header

// ---- Values ------------------------------------------------------------------------------
//
// Every operation accepts a null value: setters and Clear then do nothing (the status ones
// return false), getters return 0, null or an empty count. Operations meant for another
// type (appending to a non-array, a member of a non-object) return null and change nothing.

// The chain hash of a member name: h = h * 65599 + unit in unsigned 32 bits, units folded
// under noCase. A null name hashes to 0.
uint32_t JsonNameHash(const char16_t* name, bool noCase);
// The case folding of JsonNoCase, one UTF-16 unit to one: ASCII, Latin-1, Latin Extended-A,
// Greek and Cyrillic capitals to their small letters; every other unit is itself.
char16_t JsonFoldCase(char16_t unit);

// Frees what the value holds and makes it a JsonNull; its JsonNoCase flag stays.
void JsonValueClear(JsonValue* value);
// Frees what the value holds and the value itself (a block from RuntimeAllocate).
void JsonValueDestroy(JsonValue* value);
void JsonSetNull(JsonValue* value);
// Any non-zero b is true (stored as 1).
void JsonSetBoolean(JsonValue* value, int64_t b);
void JsonSetInteger(JsonValue* value, int64_t n);
void JsonSetDouble(JsonValue* value, double x);
// Copies text (which may lie in the value's own string); null or empty leaves the payload
// null. True on success; false for a null value, or when memory is short (the value is then
// an empty string).
[[nodiscard]] bool JsonSetString(JsonValue* value, const char16_t* text);
[[nodiscard]] bool JsonSetStringLength(JsonValue* value, const char16_t* text, size_t length);
// An empty sequence or member table (the latter with the value's case rule). True on
// success; false for a null value, or when memory is short (the value is then null).
[[nodiscard]] bool JsonSetArray(JsonValue* value);
[[nodiscard]] bool JsonSetObject(JsonValue* value);

// A new JsonNull element at the end; null when array is no array or memory is short.
JsonValue* JsonArrayAppend(JsonValue* array);
// The member's value, cleared to JsonNull when the name exists (it keeps its place), else
// a new JsonNull member. A null name is the empty name. Null when object is no object or
// memory is short.
JsonValue* JsonObjectSetMember(JsonValue* object, const char16_t* name);
// The member's value under the object's case rule, or null (also for a non-object).
JsonValue* JsonObjectFind(const JsonValue* object, const char16_t* name);
// 0 for a value of another type.
int64_t JsonMemberCount(const JsonValue* object);
int64_t JsonElementCount(const JsonValue* array);

// Walking: elements in order; members in the enumeration order of the chains (chain 0 to
// 63, newest first within a chain; the writer uses the same order). Null past the end, for
// a null argument or a value of another type.
JsonValue* JsonArrayFirst(const JsonValue* array);
JsonValue* JsonArrayNext(const JsonValue* element);
JsonMember* JsonObjectFirstMember(const JsonValue* object);
JsonMember* JsonObjectNextMember(const JsonValue* object, const JsonMember* member);

// Numbers and booleans convert (a double is truncated toward zero; one outside the 64-bit
// range, or not a number, gives INT64_MIN); every other type gives 0.
int64_t JsonGetInteger(const JsonValue* value);
double JsonGetDouble(const JsonValue* value);
float JsonGetFloat(const JsonValue* value);
// The text of a JsonString (empty for a null payload); null for every other type.
const char16_t* JsonGetString(const JsonValue* value);

// ---- Documents ---------------------------------------------------------------------------

// Start-up (creates the document table, registers the per-thread error record) and
// shutdown (frees every document). Run on the main thread by the runtime frame.
void JsonLibraryInit();
void JsonLibraryShutdown();
inline RuntimeLibrary JsonLibrary() {
    return {RuntimeLibraryId::Json, JsonLibraryInit, JsonLibraryShutdown};
}

// A new document whose root is a JsonNull (flags: JsonNoCase for its objects), replacing
// any document under number (AnyNumber: a dynamic one). Non-zero (the document record's
// address) on success; 0 when memory is short or the number is not accepted (negative
// other than AnyNumber, or above ObjectNumberLimit).
[[nodiscard]] intptr_t JsonCreate(int64_t number, int32_t flags = 0);
// Frees the document and its tree; AnyNumber frees every document. No document: nothing.
void JsonFree(int64_t number);
// The document's root value, or null when there is no such document.
JsonValue* JsonRoot(int64_t number);

// ---- Parser ------------------------------------------------------------------------------

struct JsonErrorRecord {
    char message[100]; // empty after a successful parse
    int32_t line;      // -1 after a successful parse
    int32_t column;
};

// The calling thread's record of its last parse (never null).
const JsonErrorRecord* JsonLastError();

// Nesting deeper than this fails the parse ("Nesting too deep") instead of running out of
// stack.
constexpr int32_t JsonMaxDepth = 1000;

// Parses text (null reads as empty) into document number (flags: JsonNoCase); the document
// identifier on success, 0 on failure (the error in JsonLastError, any earlier document
// under the number kept).
[[nodiscard]] intptr_t JsonParseText(int64_t number, const char16_t* text, int32_t flags = 0);

// ---- Writer ------------------------------------------------------------------------------

// Receives one character per call and returns non-zero to go on. A value whose low 16 bits
// are 0xD800 to 0xDFFF and whose high 16 bits are non-zero is a surrogate pair (first unit
// low, second high); a surrogate unit without its partner comes alone.
struct JsonCharSink {
    int (*put)(void* context, uint32_t character);
    void* context;
};

// Writes value (a null value as null) starting at indent levels (JsonPrettyPrint: the
// indented layout). 1 when every character was accepted, 0 when the sink refused one or the
// tree holds an unknown type. Zero doubles are set to +0.0 on the way.
[[nodiscard]] int JsonWriteValue(JsonValue* value, const JsonCharSink& sink, int32_t indent,
                                 int32_t flags);

// ---- Files -------------------------------------------------------------------------------

// UTF-8 bytes (invalid sequences read as U+FFFD, no byte-order mark skipped) parsed into
// document number, as JsonParseText. Null or empty bytes, and lengths beyond 0x7FFFFFFF
// bytes, are refused (0) without a parse.
[[nodiscard]] intptr_t JsonParseMemory(int64_t number, const void* bytes, int64_t length,
                                       int32_t flags = 0);
// The whole file parsed as JsonParseMemory; 0 also for a null or empty name and when the
// file cannot be read in full.
[[nodiscard]] intptr_t JsonLoadFile(int64_t number, const char16_t* fileName, int32_t flags = 0);
// Writes the document as UTF-8 into a file beside the target and then puts it in the
// target's place, so the previous file stays whole until the new one is complete.
// 1 on success, 0 on failure (no such document, a null or empty name, the file cannot
// be written).
[[nodiscard]] int JsonSaveFile(int64_t number, const char16_t* fileName, int32_t flags);

// ---- Structure mapping -------------------------------------------------------------------

// A StructureDescriptor is a byte table: the structure's name and a second text (each ending
// in a 0 byte), the 8-byte address of its DynamicFieldTable, the field records, 0xFF.
using StructureDescriptor = uint8_t;

enum FieldKind : uint8_t {
    FieldPlain = 0, // the record's first byte is its type byte
    FieldList = 0x0E,
    FieldArray = 0x0F,
    FieldMap = 0x16,
    FieldStaticArray = 0xFE,
    FieldEnd = 0xFF,
};
// A field's type byte: the type code (TypeCode) in its low 6 bits, and TypePointerMark for a
// field that holds a pointer to the value rather than the value.
constexpr uint8_t TypeCodeMask = 0x3F;
constexpr uint8_t TypePointerMark = 0x80;

// Copies the members of object value into the record of size bytes that descriptor
// describes. Unless flags has JsonNoClear, all size bytes are cleared first (strings and
// containers released). A missing member or one of the wrong type leaves its field as it
// is then; member names compare under the object's case rule. A null record does nothing;
// a null value or descriptor, or a value that is no object, does only the clearing. Memory
// shortage leaves fields as they were before the copy.
void JsonExtractStructure(const JsonValue* value, void* structure, size_t size,
                          const StructureDescriptor* descriptor, int32_t flags);
// Makes value an object with one member per described field of the record, in descriptor
// order. A null value does nothing; a null record or descriptor leaves an empty object.
// Memory shortage leaves members out or empty; nothing is reported.
void JsonInsertStructure(JsonValue* value, const void* structure,
                         const StructureDescriptor* descriptor);

// Lays out a descriptor in readable C++:
//
//   static const StructureDescriptorBuilder kPrefs =
//       StructureDescriptorBuilder("prefsstruct")
//           .Field(TypeIntPtr, offsetof(Preferences, beeptime), "beeptime")
//           .Field(TypeUInt8, offsetof(Preferences, runAsAdmin), "runAsAdmin")
//           .End();
//   JsonInsertStructure(root, &prefs, kPrefs.Bytes());
//
// Bytes() is null when the capacity ran out.
class StructureDescriptorBuilder {
  public:
    static constexpr size_t Capacity = 1024;

    explicit StructureDescriptorBuilder(const char* name,
                                        const DynamicFieldTable* fields = nullptr);
    // Plain field: type may carry TypePointerMark.
    StructureDescriptorBuilder& Field(uint8_t type, int32_t offset, const char* name);
    StructureDescriptorBuilder& Structure(int32_t offset, const char* name,
                                          const StructureDescriptor* nested);
    StructureDescriptorBuilder& FixedString(int32_t offset, const char* name, int32_t bytes);
    // Containers and static arrays: nested is the descriptor of record elements (type 7);
    // fixedBytes the size of fixed-string elements (type 10).
    StructureDescriptorBuilder& StaticArray(uint8_t type, int32_t offset, int32_t count,
                                            int32_t stride, const char* name,
                                            const StructureDescriptor* nested = nullptr,
                                            int32_t fixedBytes = 0);
    StructureDescriptorBuilder& List(uint8_t type, int32_t offset, const char* name,
                                     const StructureDescriptor* nested = nullptr,
                                     int32_t fixedBytes = 0);
    StructureDescriptorBuilder& Map(uint8_t type, int32_t offset, const char* name,
                                    const StructureDescriptor* nested = nullptr,
                                    int32_t fixedBytes = 0);
    StructureDescriptorBuilder& Array(uint8_t type, int32_t offset, const char* name,
                                      const StructureDescriptor* nested = nullptr,
                                      int32_t fixedBytes = 0);
    StructureDescriptorBuilder& End();

    const StructureDescriptor* Bytes() const { return overflow_ ? nullptr : bytes_; }
    size_t Size() const { return size_; }

  private:
    void Put(const void* data, size_t length);
    void PutByte(uint8_t b) { Put(&b, 1); }
    void PutText(const char* text);
    void PutInt32(int32_t n) { Put(&n, 4); }
    void PutAddress(const void* address);
    void PutTail(uint8_t type, const StructureDescriptor* nested, int32_t fixedBytes);
    // List and map records share one layout: kind, type, offset, name, tail.
    StructureDescriptorBuilder& Container(uint8_t kind, uint8_t type, int32_t offset,
                                          const char* name, const StructureDescriptor* nested,
                                          int32_t fixedBytes);

    uint8_t bytes_[Capacity];
    size_t size_ = 0;
    bool overflow_ = false;
};

// ---- Types whose layout is public --------------------------------------------------------
//
// Callers declare values (a zero-filled JsonValue is a JsonNull) and read members while
// walking an object; they change them only through the operations above.

struct JsonElementList; // internal: an array's sequence
struct JsonMemberTable; // internal: an object's member chains
struct JsonChunk;       // internal: the blocks that a container's nodes are cut from

struct JsonValue {
    int32_t type;
    uint16_t isDouble; // JsonNumber: the payload is a double
    uint16_t flags;    // JsonNoCase, inherited by new elements and members; internal bits
    union {
        char16_t* text; // JsonString; null is the empty string
        int64_t integer;
        double real;
        int64_t boolean; // 0 or 1
        JsonElementList* elements;
        JsonMemberTable* members;
    };
};
static_assert(sizeof(JsonValue) == 16);

struct JsonMember {
    JsonMember* next;      // in its chain
    JsonMember* indexNext; // in the lookup index
    char16_t* name;        // own copy, NUL-terminated
    uint32_t hash;         // of the name under the table's case rule
    uint32_t nameLength;   // in UTF-16 units
    JsonValue value;
};
