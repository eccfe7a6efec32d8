// The JSON library: value trees owned by numbered documents, the parser, the writer, the
// mapping between records and JSON objects, and files.
#pragma once

#include "runtime/objects.h"
#include "runtime/record_fields.h"
#include "runtime/runtime.h"

#include <cstddef>
#include <cstdint>

// ---- Values ------------------------------------------------------------------------------

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

struct JsonElementList;
struct JsonMemberTable;
struct JsonChunk; // the blocks that a container's nodes are cut from

// A zero-filled record is a JsonNull.
struct JsonValue {
    int32_t type;
    uint16_t isDouble; // JsonNumber: the payload is a double (a JsonString uses it internally)
    uint16_t flags;    // JsonNoCase; inherited by new elements and members
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

struct JsonMember {
    JsonMember* next;      // in its chain
    JsonMember* indexNext; // in the lookup index
    char16_t* name;        // own copy, NUL-terminated
    uint32_t hash;         // of the name under the table's case rule
    uint32_t nameLength;   // in UTF-16 units
    JsonValue value;
};

struct JsonMemberTable {
    uint64_t occupied;  // bit c is set while chain c holds members
    JsonMember** heads; // the heads of the occupied chains, in chain order
    int64_t count;
    int32_t noCase;
    uint16_t headCapacity;
    uint16_t headsShared; // the heads lie in chunks (of this or an enclosing container)
    uint32_t indexMask;   // index slots - 1, or 0 while there is no index
    JsonMember** index;
    JsonChunk* chunks;
    JsonMember* firstHeads[JsonFirstHeads];
};

// The chain hash: h = h * 65599 + unit in unsigned 32 bits, units folded under noCase.
uint32_t JsonNameHash(const char16_t* name, bool noCase);
// The case folding of JsonNoCase, one UTF-16 unit to one: ASCII, Latin-1, Latin Extended-A,
// Greek and Cyrillic capitals to their small letters.
char16_t JsonFoldCase(char16_t unit);

void JsonValueClear(JsonValue* value);
void JsonValueDestroy(JsonValue* value);
void JsonSetNull(JsonValue* value);
void JsonSetBoolean(JsonValue* value, int64_t b);
void JsonSetInteger(JsonValue* value, int64_t n);
void JsonSetDouble(JsonValue* value, double x);
// Copies text; null or empty leaves the payload null. False when memory is short (the value
// is then an empty string).
[[nodiscard]] bool JsonSetString(JsonValue* value, const char16_t* text);
[[nodiscard]] bool JsonSetStringLength(JsonValue* value, const char16_t* text, size_t length);
// An empty sequence or member table; false when memory is short (the value is then null).
[[nodiscard]] bool JsonSetArray(JsonValue* value);
[[nodiscard]] bool JsonSetObject(JsonValue* value);

JsonValue* JsonArrayAppend(JsonValue* array);
JsonValue* JsonObjectSetMember(JsonValue* object, const char16_t* name);
JsonValue* JsonObjectFind(const JsonValue* object, const char16_t* name);
int64_t JsonMemberCount(const JsonValue* object);
int64_t JsonElementCount(const JsonValue* array);

// Walking: elements in order; members in the enumeration order of the chains.
JsonValue* JsonArrayFirst(const JsonValue* array);
JsonValue* JsonArrayNext(const JsonValue* element);
JsonMember* JsonObjectFirstMember(const JsonValue* object);
JsonMember* JsonObjectNextMember(const JsonValue* object, const JsonMember* member);

int64_t JsonGetInteger(const JsonValue* value);
double JsonGetDouble(const JsonValue* value);
float JsonGetFloat(const JsonValue* value);
// The text of a JsonString (empty for a null payload); null for every other type.
const char16_t* JsonGetString(const JsonValue* value);

// ---- Documents ---------------------------------------------------------------------------

void JsonLibraryInit();
void JsonLibraryShutdown();
inline RuntimeLibrary JsonLibrary() {
    return {RuntimeLibraryId::Json, JsonLibraryInit, JsonLibraryShutdown};
}

// Non-zero (the document record's address) on success.
[[nodiscard]] intptr_t JsonCreate(int64_t number, int32_t flags = 0);
void JsonFree(int64_t number);
JsonValue* JsonRoot(int64_t number);

// ---- Parser ------------------------------------------------------------------------------

struct JsonErrorRecord {
    char message[100]; // empty after a successful parse
    int32_t line;      // -1 after a successful parse
    int32_t column;
};

// The calling thread's record of its last parse.
const JsonErrorRecord* JsonLastError();

// Nesting deeper than this fails the parse ("Nesting too deep") instead of running out of
// stack.
constexpr int32_t JsonMaxDepth = 1000;

// Parses text (null reads as empty) into document number; the document identifier on
// success, 0 on failure (the error in JsonLastError, any earlier document kept).
[[nodiscard]] intptr_t JsonParseText(int64_t number, const char16_t* text, int32_t flags = 0);

// ---- Writer ------------------------------------------------------------------------------

// Receives one character per call and returns non-zero to go on. A value whose low 16 bits
// are 0xD800 to 0xDFFF and whose high 16 bits are non-zero is a surrogate pair (first unit
// low, second high); a surrogate unit without its partner comes alone.
struct JsonCharSink {
    int (*put)(void* context, uint32_t character);
    void* context;
};

// 1 when every character was accepted, 0 when the sink refused one or the tree holds an
// unknown type. Zero doubles are set to +0.0 on the way.
[[nodiscard]] int JsonWriteValue(JsonValue* value, const JsonCharSink& sink, int32_t indent,
                                 int32_t flags);

// ---- Files -------------------------------------------------------------------------------

// UTF-8 bytes (invalid sequences read as U+FFFD, no byte-order mark skipped) parsed into
// document number. Lengths beyond 0x7FFFFFFF bytes are refused.
[[nodiscard]] intptr_t JsonParseMemory(int64_t number, const void* bytes, int64_t length,
                                       int32_t flags = 0);
[[nodiscard]] intptr_t JsonLoadFile(int64_t number, const char16_t* fileName, int32_t flags = 0);
// Writes the document as UTF-8 into a file beside the target and then puts it in the
// target's place, so the previous file stays whole until the new one is complete.
// 1 on success, 0 on failure.
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
constexpr uint8_t TypePointerMark = 0x80;

void JsonExtractStructure(const JsonValue* value, void* structure, size_t size,
                          const StructureDescriptor* descriptor, int32_t flags);
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
