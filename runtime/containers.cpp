#include "containers.h"

#include "heap.h"
#include "strings.h"

#include <cstring>

namespace {

// Releases what one element owns: the text of a string element, the fields of a record.
void ReleaseElement(void* element, int32_t type, const DynamicFieldTable* fields) {
    if (type == TypeString)
        (void)static_cast<RuntimeString*>(element)->Assign(nullptr); // frees: cannot fail
    else if (fields)
        StructureRelease(element, fields);
}

// Creates the containers of a zero-filled record again, empty. Returns nothing: a container
// that cannot be created stays null, which every user treats as absent.
void StructureCreateContainers(void* structure, const DynamicFieldTable* table) {
    if (!table) return;
    for (int32_t i = 0; i < table->count; ++i) {
        const DynamicField& f = table->fields[i];
        for (int32_t k = 0; k < (f.count > 0 ? f.count : 1); ++k) {
            char* at = static_cast<char*>(structure) + f.offset + int64_t(k) * f.stride;
            switch (f.kind) {
            case DynamicFieldKind::List:
                *reinterpret_cast<RuntimeList**>(at) =
                    RuntimeListCreate(f.elementType, f.elementSize, f.elementFields);
                break;
            case DynamicFieldKind::Map:
                *reinterpret_cast<RuntimeMap**>(at) =
                    RuntimeMapCreate(f.elementType, f.elementSize, f.elementFields);
                break;
            case DynamicFieldKind::Array: {
                int64_t sizes[RuntimeArrayMaxDimensions] = {};
                *reinterpret_cast<void**>(at) = RuntimeArrayCreate(
                    f.elementType, f.elementSize, f.dimensions, sizes, f.elementFields);
                break;
            }
            case DynamicFieldKind::Structure:
                StructureCreateContainers(at, f.elementFields);
                break;
            case DynamicFieldKind::String:
                break;
            }
        }
    }
}

} // namespace

void StructureRelease(void* structure, const DynamicFieldTable* table) {
    if (!structure || !table) return;
    for (int32_t i = 0; i < table->count; ++i) {
        const DynamicField& f = table->fields[i];
        for (int32_t k = 0; k < (f.count > 0 ? f.count : 1); ++k) {
            char* at = static_cast<char*>(structure) + f.offset + int64_t(k) * f.stride;
            switch (f.kind) {
            case DynamicFieldKind::String:
                (void)reinterpret_cast<RuntimeString*>(at)->Assign(nullptr); // frees: cannot fail
                break;
            case DynamicFieldKind::List:
                RuntimeListFree(*reinterpret_cast<RuntimeList**>(at));
                *reinterpret_cast<RuntimeList**>(at) = nullptr;
                break;
            case DynamicFieldKind::Map:
                RuntimeMapFree(*reinterpret_cast<RuntimeMap**>(at));
                *reinterpret_cast<RuntimeMap**>(at) = nullptr;
                break;
            case DynamicFieldKind::Array:
                RuntimeArrayFree(*reinterpret_cast<void**>(at));
                *reinterpret_cast<void**>(at) = nullptr;
                break;
            case DynamicFieldKind::Structure:
                StructureRelease(at, f.elementFields);
                break;
            }
        }
    }
}

void StructureClear(void* structure, size_t size, const DynamicFieldTable* table) {
    if (!structure) return;
    StructureRelease(structure, table);
    std::memset(structure, 0, size);
    StructureCreateContainers(structure, table);
}

// ---- Lists -------------------------------------------------------------------------------

namespace {

struct ListNode {
    ListNode* next;
    ListNode* previous;
    // element data follows, 16-byte aligned
    uint64_t padding[2];
};
static_assert(sizeof(ListNode) % 16 == 0);

void* NodeData(const ListNode* node) {
    return const_cast<ListNode*>(node + 1);
}

} // namespace

struct RuntimeList {
    ListNode* first;
    ListNode* last;
    int64_t size;
    int32_t elementType;
    int32_t elementSize;
    const DynamicFieldTable* elementFields;
};

RuntimeList* RuntimeListCreate(int32_t elementType, int32_t elementSize,
                               const DynamicFieldTable* elementFields) {
    if (elementSize < 0) return nullptr;
    auto* list = static_cast<RuntimeList*>(RuntimeAllocate(sizeof(RuntimeList)));
    if (!list) return nullptr;
    list->elementType = elementType;
    list->elementSize = elementSize;
    list->elementFields = elementFields;
    return list;
}

void RuntimeListClear(RuntimeList* list) {
    if (!list) return;
    for (ListNode* node = list->first; node;) {
        ListNode* next = node->next;
        ReleaseElement(NodeData(node), list->elementType, list->elementFields);
        RuntimeFree(node);
        node = next;
    }
    list->first = list->last = nullptr;
    list->size = 0;
}

void RuntimeListFree(RuntimeList* list) {
    RuntimeListClear(list);
    RuntimeFree(list);
}

void* RuntimeListAdd(RuntimeList* list) {
    if (!list) return nullptr;
    auto* node = static_cast<ListNode*>(RuntimeAllocate(sizeof(ListNode) + list->elementSize));
    if (!node) return nullptr;
    node->previous = list->last;
    if (list->last)
        list->last->next = node;
    else
        list->first = node;
    list->last = node;
    ++list->size;
    return NodeData(node);
}

int64_t RuntimeListSize(const RuntimeList* list) {
    return list ? list->size : 0;
}

void* RuntimeListFirst(const RuntimeList* list) {
    return list && list->first ? NodeData(list->first) : nullptr;
}

void* RuntimeListNext(const RuntimeList*, const void* element) {
    if (!element) return nullptr;
    const ListNode* node = static_cast<const ListNode*>(element) - 1;
    return node->next ? NodeData(node->next) : nullptr;
}

int32_t RuntimeListElementType(const RuntimeList* list) {
    return list ? list->elementType : 0;
}

int32_t RuntimeListElementSize(const RuntimeList* list) {
    return list ? list->elementSize : 0;
}

// ---- Maps --------------------------------------------------------------------------------

namespace {

struct MapNode {
    MapNode* next;     // in adding order
    MapNode* previous; // in adding order
    MapNode* bucketNext;
    char16_t* key; // own copy, in the same block after the element data
    uint32_t hash;
    uint32_t padding[3];
    // element data follows, 16-byte aligned
};
static_assert(sizeof(MapNode) % 16 == 0);

uint32_t KeyHash(const char16_t* key) {
    uint32_t h = 2166136261u;
    for (; key && *key; ++key) h = (h ^ *key) * 16777619u;
    return h;
}

} // namespace

struct RuntimeMap {
    MapNode* first;
    MapNode* last;
    MapNode* current;
    MapNode** buckets;
    uint32_t bucketCount; // power of two, or 0 before the first element
    int64_t size;
    int32_t elementType;
    int32_t elementSize;
    const DynamicFieldTable* elementFields;
    bool beforeFirst;
};

RuntimeMap* RuntimeMapCreate(int32_t elementType, int32_t elementSize,
                             const DynamicFieldTable* elementFields) {
    if (elementSize < 0) return nullptr;
    auto* map = static_cast<RuntimeMap*>(RuntimeAllocate(sizeof(RuntimeMap)));
    if (!map) return nullptr;
    map->elementType = elementType;
    map->elementSize = elementSize;
    map->elementFields = elementFields;
    map->beforeFirst = true;
    return map;
}

void RuntimeMapClear(RuntimeMap* map) {
    if (!map) return;
    for (MapNode* node = map->first; node;) {
        MapNode* next = node->next;
        ReleaseElement(node + 1, map->elementType, map->elementFields);
        RuntimeFree(node);
        node = next;
    }
    RuntimeFree(map->buckets);
    map->buckets = nullptr;
    map->bucketCount = 0;
    map->first = map->last = map->current = nullptr;
    map->size = 0;
    map->beforeFirst = true;
}

void RuntimeMapFree(RuntimeMap* map) {
    RuntimeMapClear(map);
    RuntimeFree(map);
}

namespace {

MapNode* FindNode(const RuntimeMap* map, const char16_t* key, uint32_t hash) {
    if (!map->bucketCount) return nullptr;
    for (MapNode* n = map->buckets[hash & (map->bucketCount - 1)]; n; n = n->bucketNext)
        if (n->hash == hash && StringEquals(n->key, key)) return n;
    return nullptr;
}

bool Grow(RuntimeMap* map) {
    uint32_t count = map->bucketCount ? map->bucketCount * 2 : 16;
    auto** buckets = static_cast<MapNode**>(RuntimeAllocate(sizeof(MapNode*) * count));
    if (!buckets) return false;
    for (MapNode* n = map->first; n; n = n->next) {
        n->bucketNext = buckets[n->hash & (count - 1)];
        buckets[n->hash & (count - 1)] = n;
    }
    RuntimeFree(map->buckets);
    map->buckets = buckets;
    map->bucketCount = count;
    return true;
}

} // namespace

void* RuntimeMapAdd(RuntimeMap* map, const char16_t* key) {
    if (!map) return nullptr;
    if (!key) key = u"";
    uint32_t hash = KeyHash(key);
    if (MapNode* found = FindNode(map, key, hash)) {
        map->current = found;
        map->beforeFirst = false;
        return found + 1;
    }
    if (uint64_t(map->size) >= map->bucketCount && !Grow(map)) return nullptr;
    size_t keyLength = StringLength(key);
    size_t dataSize = (size_t(map->elementSize) + 7) & ~size_t{7};
    auto* node = static_cast<MapNode*>(
        RuntimeAllocate(sizeof(MapNode) + dataSize + (keyLength + 1) * sizeof(char16_t)));
    if (!node) return nullptr;
    node->key = reinterpret_cast<char16_t*>(reinterpret_cast<char*>(node + 1) + dataSize);
    std::memcpy(node->key, key, keyLength * sizeof(char16_t));
    node->hash = hash;
    uint32_t b = hash & (map->bucketCount - 1);
    node->bucketNext = map->buckets[b];
    map->buckets[b] = node;
    node->previous = map->last;
    if (map->last)
        map->last->next = node;
    else
        map->first = node;
    map->last = node;
    ++map->size;
    map->current = node;
    map->beforeFirst = false;
    return node + 1;
}

void* RuntimeMapFind(const RuntimeMap* map, const char16_t* key) {
    if (!map) return nullptr;
    if (!key) key = u"";
    MapNode* n = FindNode(map, key, KeyHash(key));
    return n ? n + 1 : nullptr;
}

int64_t RuntimeMapSize(const RuntimeMap* map) {
    return map ? map->size : 0;
}

void RuntimeMapReset(RuntimeMap* map) {
    if (!map) return;
    map->current = nullptr;
    map->beforeFirst = true;
}

void* RuntimeMapNext(RuntimeMap* map) {
    if (!map) return nullptr;
    MapNode* next = map->beforeFirst ? map->first : map->current ? map->current->next : nullptr;
    map->beforeFirst = false;
    map->current = next;
    return next ? next + 1 : nullptr;
}

const char16_t* RuntimeMapKey(const void* element) {
    return element ? (static_cast<const MapNode*>(element) - 1)->key : u"";
}

void* RuntimeMapPosition(const RuntimeMap* map) {
    // The before-first position is told apart from "past the last" by the map itself.
    if (!map || map->beforeFirst) return const_cast<RuntimeMap*>(map);
    return map->current;
}

void RuntimeMapSetPosition(RuntimeMap* map, void* position) {
    if (!map) return;
    map->beforeFirst = position == map;
    map->current = map->beforeFirst ? nullptr : static_cast<MapNode*>(position);
}

int32_t RuntimeMapElementType(const RuntimeMap* map) {
    return map ? map->elementType : 0;
}

int32_t RuntimeMapElementSize(const RuntimeMap* map) {
    return map ? map->elementSize : 0;
}

// ---- Arrays ------------------------------------------------------------------------------

namespace {

struct ArrayHeader {
    int64_t sizes[RuntimeArrayMaxDimensions];
    int64_t count;
    const DynamicFieldTable* elementFields;
    int32_t dimensions;
    int32_t elementType;
    int32_t elementSize;
    int32_t padding;
};
static_assert(sizeof(ArrayHeader) % 16 == 0);

ArrayHeader* HeaderOf(const void* data) {
    return const_cast<ArrayHeader*>(static_cast<const ArrayHeader*>(data) - 1);
}

// Element count for sizes, or -1 when a size is negative or the total is out of reach.
int64_t CountOf(int32_t dimensions, const int64_t* sizes, int32_t elementSize) {
    int64_t count = 1;
    for (int32_t d = 0; d < dimensions; ++d) {
        if (sizes[d] < 0) return -1;
        if (sizes[d] && count > (int64_t{1} << 40) / sizes[d]) return -1;
        count *= sizes[d];
    }
    if (elementSize && count > (int64_t{1} << 40) / elementSize) return -1;
    return count;
}

void ReleaseElements(ArrayHeader* h) {
    if (h->elementType != TypeString && !h->elementFields) return;
    char* data = reinterpret_cast<char*>(h + 1);
    for (int64_t i = 0; i < h->count; ++i)
        ReleaseElement(data + i * h->elementSize, h->elementType, h->elementFields);
}

} // namespace

void* RuntimeArrayCreate(int32_t elementType, int32_t elementSize, int32_t dimensions,
                         const int64_t* sizes, const DynamicFieldTable* elementFields) {
    if (dimensions < 1 || dimensions > RuntimeArrayMaxDimensions || elementSize < 0) return nullptr;
    int64_t count = CountOf(dimensions, sizes, elementSize);
    if (count < 0) return nullptr;
    auto* h = static_cast<ArrayHeader*>(
        RuntimeAllocate(sizeof(ArrayHeader) + size_t(count * elementSize)));
    if (!h) return nullptr;
    for (int32_t d = 0; d < dimensions; ++d) h->sizes[d] = sizes[d];
    h->count = count;
    h->dimensions = dimensions;
    h->elementType = elementType;
    h->elementSize = elementSize;
    h->elementFields = elementFields;
    return h + 1;
}

bool RuntimeArrayResize(void** data, const int64_t* sizes) {
    if (!data || !*data) return false;
    ArrayHeader* h = HeaderOf(*data);
    int64_t count = CountOf(h->dimensions, sizes, h->elementSize);
    if (count < 0) return false;
    void* fresh =
        RuntimeArrayCreate(h->elementType, h->elementSize, h->dimensions, sizes, h->elementFields);
    if (!fresh) return false;
    RuntimeArrayFree(*data);
    *data = fresh;
    return true;
}

void RuntimeArrayFree(void* data) {
    if (!data) return;
    ArrayHeader* h = HeaderOf(data);
    ReleaseElements(h);
    RuntimeFree(h);
}

int32_t RuntimeArrayDimensions(const void* data) {
    return data ? HeaderOf(data)->dimensions : 0;
}

int64_t RuntimeArrayDimensionSize(const void* data, int32_t dimension) {
    if (!data || dimension < 0 || dimension >= HeaderOf(data)->dimensions) return 0;
    return HeaderOf(data)->sizes[dimension];
}

int64_t RuntimeArrayElementCount(const void* data) {
    return data ? HeaderOf(data)->count : 0;
}

int32_t RuntimeArrayElementType(const void* data) {
    return data ? HeaderOf(data)->elementType : 0;
}

int32_t RuntimeArrayElementSize(const void* data) {
    return data ? HeaderOf(data)->elementSize : 0;
}
