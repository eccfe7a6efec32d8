// Records to JSON objects and back, guided by their structure descriptors.
#include "json_internal.h"
#include "json_system.h"

#include "runtime/containers.h"
#include "runtime/heap.h"
#include "runtime/strings.h"

#include <cstring>

// String fields hold a RuntimeString, which is one pointer to its text.
static_assert(sizeof(RuntimeString) == sizeof(char16_t*));

namespace {

struct Field {
    uint8_t kind; // FieldKind
    uint8_t type; // type byte: code in the low 6 bits, TypePointerMark
    int32_t offset;
    int32_t count;  // static arrays
    int32_t stride; // static arrays
    const char* name;
    const StructureDescriptor* nested; // code 7
    int32_t fixedBytes;                // code 10 without the pointer mark
};

int32_t ReadInt32(const uint8_t*& p) {
    uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    p += 4;
    return int32_t(v);
}

const void* ReadAddress(const uint8_t*& p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
    p += 8;
    return reinterpret_cast<const void*>(uintptr_t(v));
}

const uint8_t* SkipText(const uint8_t* p) {
    while (*p) ++p;
    return p + 1;
}

// The first field record after the descriptor's texts and table address.
const uint8_t* FirstField(const StructureDescriptor* d) {
    const uint8_t* p = SkipText(SkipText(d));
    return p + 8;
}

const DynamicFieldTable* TableOf(const StructureDescriptor* d) {
    const uint8_t* p = SkipText(SkipText(d));
    return static_cast<const DynamicFieldTable*>(ReadAddress(p));
}

// Reads one field record; returns the next record, or null at the end.
const uint8_t* ReadField(const uint8_t* p, Field* f) {
    *f = Field{};
    uint8_t first = *p++;
    if (first == FieldEnd) return nullptr;
    if (first == FieldStaticArray || first == FieldList || first == FieldArray ||
        first == FieldMap) {
        f->kind = first;
        f->type = *p++;
        if (first == FieldArray) ++p; // a byte the mapping does not use
    } else {
        f->kind = FieldPlain;
        f->type = first;
    }
    f->offset = ReadInt32(p);
    if (first == FieldStaticArray) {
        f->count = ReadInt32(p);
        f->stride = ReadInt32(p);
    }
    f->name = reinterpret_cast<const char*>(p);
    p = SkipText(p);
    uint8_t code = f->type & TypeCodeMask;
    if (code == TypeStructure)
        f->nested = static_cast<const StructureDescriptor*>(ReadAddress(p));
    else if (code == TypeFixedString && !(f->type & TypePointerMark))
        f->fixedBytes = ReadInt32(p);
    return p;
}

// The member name of a field: without a leading "*" and a trailing "$", in UTF-16.
void MemberName(const char* name, char16_t* out, size_t capacity) {
    char narrow[256];
    if (*name == '*') ++name;
    size_t n = 0;
    while (name[n] && n + 1 < sizeof narrow) {
        narrow[n] = name[n];
        ++n;
    }
    if (n && narrow[n - 1] == '$') --n;
    narrow[n] = 0;
    json_system::CodePageToUtf16(narrow, out, capacity);
}

template <class T> void Store(uint8_t* slot, T v) {
    std::memcpy(slot, &v, sizeof v);
}
template <class T> T Load(const uint8_t* slot) {
    T v;
    std::memcpy(&v, slot, sizeof v);
    return v;
}

void ExtractFields(const JsonValue* object, uint8_t* structure,
                   const StructureDescriptor* descriptor);
void InsertFields(JsonValue* object, const uint8_t* structure,
                  const StructureDescriptor* descriptor);

// One member value into one slot of the given type.
void ExtractScalar(const JsonValue* m, uint8_t* slot, uint8_t type,
                   const StructureDescriptor* nested, int32_t fixedBytes) {
    if (type & TypePointerMark) {
        Store<int64_t>(slot, JsonGetInteger(m));
        return;
    }
    switch (type & TypeCodeMask) {
    case TypeInt8:
    case TypeUInt8:
        Store<uint8_t>(slot, uint8_t(JsonGetInteger(m)));
        break;
    case TypeInt16:
    case TypeChar:
    case TypeUInt16:
        Store<uint16_t>(slot, uint16_t(JsonGetInteger(m)));
        break;
    case TypeInt32:
        Store<uint32_t>(slot, uint32_t(JsonGetInteger(m)));
        break;
    case TypeInt64:
    case TypeIntPtr:
        Store<int64_t>(slot, JsonGetInteger(m));
        break;
    case TypeFloat:
        Store<float>(slot, JsonGetFloat(m));
        break;
    case TypeDouble:
        Store<double>(slot, JsonGetDouble(m));
        break;
    case TypeStructure:
        if (nested && m->type == JsonObject) ExtractFields(m, slot, nested);
        break;
    case TypeString:
        if (m->type == JsonString && m->text && *m->text)
            // Memory short: the field keeps its old text, as for a member of another type.
            (void)reinterpret_cast<RuntimeString*>(slot)->Assign(m->text);
        break;
    case TypeFixedString:
        if (m->type == JsonString && m->text && *m->text && fixedBytes >= 2) {
            size_t room = size_t(fixedBytes) / 2;
            size_t n = StringLength(m->text);
            if (n > room) n = room;
            std::memset(slot, 0, room * sizeof(char16_t));
            std::memcpy(slot, m->text, n * sizeof(char16_t));
        }
        break;
    default:
        break;
    }
}

void InsertScalar(JsonValue* out, const uint8_t* slot, uint8_t type,
                  const StructureDescriptor* nested, int32_t fixedBytes) {
    if (type & TypePointerMark) {
        JsonSetInteger(out, Load<int64_t>(slot));
        return;
    }
    switch (type & TypeCodeMask) {
    case TypeInt8:
        JsonSetInteger(out, Load<int8_t>(slot));
        break;
    case TypeInt16:
        JsonSetInteger(out, Load<int16_t>(slot));
        break;
    case TypeInt32:
        JsonSetInteger(out, Load<int32_t>(slot));
        break;
    case TypeChar:
    case TypeUInt16:
        JsonSetInteger(out, Load<uint16_t>(slot));
        break;
    case TypeUInt8:
        JsonSetInteger(out, Load<uint8_t>(slot));
        break;
    case TypeInt64:
    case TypeIntPtr:
        JsonSetInteger(out, Load<int64_t>(slot));
        break;
    case TypeFloat:
        JsonSetDouble(out, double(Load<float>(slot)));
        break;
    case TypeDouble:
        JsonSetDouble(out, Load<double>(slot));
        break;
    case TypeStructure:
        if (nested) JsonInsertStructure(out, slot, nested);
        break;
    case TypeString:
        // Memory short: the member is an empty string (the value's own rule).
        (void)JsonSetString(out, Load<const char16_t*>(slot));
        break;
    case TypeFixedString: {
        size_t room = fixedBytes > 0 ? size_t(fixedBytes) / 2 : 0, n = 0;
        while (n < room && Load<char16_t>(slot + 2 * n)) ++n;
        // The units may lie unaligned in a packed record: copy them out first.
        char16_t small[256];
        char16_t* units =
            n <= 256 ? small : static_cast<char16_t*>(RuntimeAllocate(n * sizeof(char16_t)));
        if (!units) break;
        std::memcpy(units, slot, n * sizeof(char16_t));
        (void)JsonSetStringLength(out, units, n); // memory short: an empty string
        if (units != small) RuntimeFree(units);
        break;
    }
    default:
        break;
    }
}

// Container elements: records through the field's nested descriptor, else by the
// container's own element type and size.
void ExtractElement(const JsonValue* m, uint8_t* slot, int32_t elementType, int32_t elementSize,
                    const StructureDescriptor* nested) {
    if (nested) {
        if (m->type == JsonObject) ExtractFields(m, slot, nested);
        return;
    }
    ExtractScalar(m, slot, uint8_t(elementType), nullptr, elementSize);
}

void InsertElement(JsonValue* out, const uint8_t* slot, int32_t elementType, int32_t elementSize,
                   const StructureDescriptor* nested) {
    if (nested && elementType != TypeIntPtr)
        JsonInsertStructure(out, slot, nested);
    else
        InsertScalar(out, slot, uint8_t(elementType), nullptr, elementSize);
}

// ---- Arrays of several dimensions --------------------------------------------------------

void Measure(const JsonValue* v, int32_t depth, int32_t dimensions, int64_t* sizes) {
    if (depth >= dimensions || v->type != JsonArray) return;
    int64_t n = JsonElementCount(v);
    if (n > sizes[depth]) sizes[depth] = n;
    if (depth + 1 < dimensions)
        for (JsonValue* e = JsonArrayFirst(v); e; e = JsonArrayNext(e))
            Measure(e, depth + 1, dimensions, sizes);
}

void FillArray(const JsonValue* v, int32_t depth, int64_t base, uint8_t* data, const int64_t* sizes,
               int32_t dimensions, const StructureDescriptor* nested) {
    if (v->type != JsonArray) return;
    int32_t type = RuntimeArrayElementType(data), size = RuntimeArrayElementSize(data);
    int64_t i = 0;
    for (JsonValue* e = JsonArrayFirst(v); e && i < sizes[depth]; e = JsonArrayNext(e), ++i) {
        int64_t index = base * sizes[depth] + i;
        if (depth + 1 == dimensions)
            ExtractElement(e, data + index * size, type, size, nested);
        else
            FillArray(e, depth + 1, index, data, sizes, dimensions, nested);
    }
}

void BuildArray(JsonValue* out, int32_t depth, int64_t base, const uint8_t* data,
                const StructureDescriptor* nested) {
    if (!JsonSetArray(out)) return;
    int32_t dimensions = RuntimeArrayDimensions(data);
    int64_t n = RuntimeArrayDimensionSize(data, depth);
    int32_t type = RuntimeArrayElementType(data), size = RuntimeArrayElementSize(data);
    for (int64_t i = 0; i < n; ++i) {
        JsonValue* e = JsonArrayAppend(out);
        if (!e) continue;
        int64_t index = base * n + i;
        if (depth + 1 == dimensions)
            InsertElement(e, data + index * size, type, size, nested);
        else
            BuildArray(e, depth + 1, index, data, nested);
    }
}

void ExtractArrayField(const JsonValue* m, void** field, const StructureDescriptor* nested) {
    if (!*field) return;
    int32_t dimensions = RuntimeArrayDimensions(*field);
    int64_t sizes[RuntimeArrayMaxDimensions] = {};
    Measure(m, 0, dimensions, sizes);
    bool empty = false;
    for (int32_t d = 0; d < dimensions; ++d) empty = empty || sizes[d] == 0;
    // With a dimension of 0 the array becomes empty in every dimension: it stays a valid
    // array, holding nothing.
    if (empty) std::memset(sizes, 0, sizeof sizes);
    if (!RuntimeArrayResize(field, sizes) || empty) return;
    FillArray(m, 0, 0, static_cast<uint8_t*>(*field), sizes, dimensions, nested);
}

// ---- Fields ------------------------------------------------------------------------------

void ExtractFields(const JsonValue* object, uint8_t* structure,
                   const StructureDescriptor* descriptor) {
    if (!object || object->type != JsonObject || !descriptor) return;
    Field f;
    char16_t name[256];
    for (const uint8_t* p = ReadField(FirstField(descriptor), &f); p; p = ReadField(p, &f)) {
        MemberName(f.name, name, 256);
        const JsonValue* m = JsonObjectFind(object, name);
        if (!m) continue;
        uint8_t* at = structure + f.offset;
        switch (f.kind) {
        case FieldPlain:
            ExtractScalar(m, at, f.type, f.nested, f.fixedBytes);
            break;
        case FieldStaticArray: {
            int32_t i = 0;
            for (JsonValue* e = JsonArrayFirst(m); e && i < f.count; e = JsonArrayNext(e), ++i)
                ExtractScalar(e, at + int64_t(i) * f.stride, f.type, f.nested, f.fixedBytes);
            break;
        }
        case FieldList: {
            RuntimeList* list = Load<RuntimeList*>(at);
            if (!list) break;
            RuntimeListClear(list);
            int32_t type = RuntimeListElementType(list), size = RuntimeListElementSize(list);
            for (JsonValue* e = JsonArrayFirst(m); e; e = JsonArrayNext(e))
                if (auto* slot = static_cast<uint8_t*>(RuntimeListAdd(list)))
                    ExtractElement(e, slot, type, size, f.nested);
            break;
        }
        case FieldMap: {
            RuntimeMap* map = Load<RuntimeMap*>(at);
            if (!map) break;
            RuntimeMapClear(map);
            int32_t type = RuntimeMapElementType(map), size = RuntimeMapElementSize(map);
            for (JsonMember* e = JsonObjectFirstMember(m); e; e = JsonObjectNextMember(m, e))
                if (auto* slot = static_cast<uint8_t*>(RuntimeMapAdd(map, e->name)))
                    ExtractElement(&e->value, slot, type, size, f.nested);
            break;
        }
        case FieldArray: {
            void* data = Load<void*>(at);
            ExtractArrayField(m, &data, f.nested);
            Store<void*>(at, data);
            break;
        }
        default:
            break;
        }
    }
}

void InsertFields(JsonValue* object, const uint8_t* structure,
                  const StructureDescriptor* descriptor) {
    Field f;
    char16_t name[256];
    for (const uint8_t* p = ReadField(FirstField(descriptor), &f); p; p = ReadField(p, &f)) {
        MemberName(f.name, name, 256);
        JsonValue* m = JsonObjectSetMember(object, name);
        if (!m) continue;
        const uint8_t* at = structure + f.offset;
        switch (f.kind) {
        case FieldPlain:
            InsertScalar(m, at, f.type, f.nested, f.fixedBytes);
            break;
        case FieldStaticArray:
            if (!JsonSetArray(m)) break;
            for (int32_t i = 0; i < f.count; ++i)
                if (JsonValue* e = JsonArrayAppend(m))
                    InsertScalar(e, at + int64_t(i) * f.stride, f.type, f.nested, f.fixedBytes);
            break;
        case FieldList: {
            if (!JsonSetArray(m)) break;
            const RuntimeList* list = Load<RuntimeList*>(at);
            int32_t type = RuntimeListElementType(list), size = RuntimeListElementSize(list);
            for (void* e = RuntimeListFirst(list); e; e = RuntimeListNext(list, e))
                if (JsonValue* v = JsonArrayAppend(m))
                    InsertElement(v, static_cast<uint8_t*>(e), type, size, f.nested);
            break;
        }
        case FieldMap: {
            if (!JsonSetObject(m)) break;
            RuntimeMap* map = Load<RuntimeMap*>(at);
            if (!map) break;
            int32_t type = RuntimeMapElementType(map), size = RuntimeMapElementSize(map);
            void* position = RuntimeMapPosition(map);
            RuntimeMapReset(map);
            while (void* e = RuntimeMapNext(map))
                if (JsonValue* v = JsonObjectSetMember(m, RuntimeMapKey(e)))
                    InsertElement(v, static_cast<uint8_t*>(e), type, size, f.nested);
            RuntimeMapSetPosition(map, position);
            break;
        }
        case FieldArray: {
            const void* data = Load<void*>(at);
            if (data)
                BuildArray(m, 0, 0, static_cast<const uint8_t*>(data), f.nested);
            else
                (void)JsonSetArray(m); // memory short: the member stays null
            break;
        }
        default:
            break;
        }
    }
}

} // namespace

void JsonExtractStructure(const JsonValue* value, void* structure, size_t size,
                          const StructureDescriptor* descriptor, int32_t flags) {
    if (!structure) return;
    if (!(flags & JsonNoClear))
        StructureClear(structure, size, descriptor ? TableOf(descriptor) : nullptr);
    ExtractFields(value, static_cast<uint8_t*>(structure), descriptor);
}

void JsonInsertStructure(JsonValue* value, const void* structure,
                         const StructureDescriptor* descriptor) {
    if (!JsonSetObject(value) || !structure || !descriptor) return;
    InsertFields(value, static_cast<const uint8_t*>(structure), descriptor);
}

// ---- Descriptor builder ------------------------------------------------------------------

StructureDescriptorBuilder::StructureDescriptorBuilder(const char* name,
                                                       const DynamicFieldTable* fields) {
    PutText(name);
    PutText("");
    PutAddress(fields);
}

void StructureDescriptorBuilder::Put(const void* data, size_t length) {
    if (overflow_ || size_ + length > Capacity) {
        overflow_ = true;
        return;
    }
    std::memcpy(bytes_ + size_, data, length);
    size_ += length;
}

void StructureDescriptorBuilder::PutText(const char* text) {
    Put(text, std::strlen(text) + 1);
}

void StructureDescriptorBuilder::PutAddress(const void* address) {
    uint64_t v = uint64_t(reinterpret_cast<uintptr_t>(address));
    for (int i = 0; i < 8; ++i) PutByte(uint8_t(v >> (8 * i)));
}

void StructureDescriptorBuilder::PutTail(uint8_t type, const StructureDescriptor* nested,
                                         int32_t fixedBytes) {
    if ((type & TypeCodeMask) == TypeStructure)
        PutAddress(nested);
    else if ((type & TypeCodeMask) == TypeFixedString && !(type & TypePointerMark))
        PutInt32(fixedBytes);
}

StructureDescriptorBuilder& StructureDescriptorBuilder::Field(uint8_t type, int32_t offset,
                                                              const char* name) {
    PutByte(type);
    PutInt32(offset);
    PutText(name);
    PutTail(type, nullptr, 0);
    return *this;
}

StructureDescriptorBuilder&
StructureDescriptorBuilder::Structure(int32_t offset, const char* name,
                                      const StructureDescriptor* nested) {
    PutByte(TypeStructure);
    PutInt32(offset);
    PutText(name);
    PutTail(TypeStructure, nested, 0);
    return *this;
}

StructureDescriptorBuilder&
StructureDescriptorBuilder::FixedString(int32_t offset, const char* name, int32_t bytes) {
    PutByte(TypeFixedString);
    PutInt32(offset);
    PutText(name);
    PutTail(TypeFixedString, nullptr, bytes);
    return *this;
}

StructureDescriptorBuilder&
StructureDescriptorBuilder::StaticArray(uint8_t type, int32_t offset, int32_t count, int32_t stride,
                                        const char* name, const StructureDescriptor* nested,
                                        int32_t fixedBytes) {
    PutByte(FieldStaticArray);
    PutByte(type);
    PutInt32(offset);
    PutInt32(count);
    PutInt32(stride);
    PutText(name);
    PutTail(type, nested, fixedBytes);
    return *this;
}

StructureDescriptorBuilder& StructureDescriptorBuilder::Container(uint8_t kind, uint8_t type,
                                                                  int32_t offset, const char* name,
                                                                  const StructureDescriptor* nested,
                                                                  int32_t fixedBytes) {
    PutByte(kind);
    PutByte(type);
    PutInt32(offset);
    PutText(name);
    PutTail(type, nested, fixedBytes);
    return *this;
}

StructureDescriptorBuilder& StructureDescriptorBuilder::List(uint8_t type, int32_t offset,
                                                             const char* name,
                                                             const StructureDescriptor* nested,
                                                             int32_t fixedBytes) {
    return Container(FieldList, type, offset, name, nested, fixedBytes);
}

StructureDescriptorBuilder& StructureDescriptorBuilder::Map(uint8_t type, int32_t offset,
                                                            const char* name,
                                                            const StructureDescriptor* nested,
                                                            int32_t fixedBytes) {
    return Container(FieldMap, type, offset, name, nested, fixedBytes);
}

StructureDescriptorBuilder& StructureDescriptorBuilder::Array(uint8_t type, int32_t offset,
                                                              const char* name,
                                                              const StructureDescriptor* nested,
                                                              int32_t fixedBytes) {
    PutByte(FieldArray);
    PutByte(type);
    PutByte(0);
    PutInt32(offset);
    PutText(name);
    PutTail(type, nested, fixedBytes);
    return *this;
}

StructureDescriptorBuilder& StructureDescriptorBuilder::End() {
    PutByte(FieldEnd);
    return *this;
}
