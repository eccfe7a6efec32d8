#include "objects.h"

#include "heap.h"
#include "lock.h"

#include <cstring>
#include <new>

namespace {

// Dynamic records carry their list links in a 16-byte header in front of the record part.
struct DynamicHeader {
    DynamicHeader* next;
    DynamicHeader* previous;
};
static_assert(sizeof(DynamicHeader) == 16);

void* RecordOf(DynamicHeader* header) {
    return header + 1;
}

// The set of live dynamic records, so that any number handed to a library can be checked
// before it is used as an address. Open addressing with linear probing; the capacity is a
// power of two kept at most half full (tombstones included).
class DynamicIndex {
  public:
    bool Contains(const DynamicHeader* header) const { return Find(header) >= 0; }

    bool Insert(DynamicHeader* header) {
        if ((used_ + 1) * 2 > capacity_ && !Rehash(capacity_ ? capacity_ * 2 : 16)) return false;
        size_t mask = capacity_ - 1;
        for (size_t i = Hash(header) & mask;; i = (i + 1) & mask) {
            if (slots_[i] == nullptr || slots_[i] == Tombstone()) {
                if (slots_[i] == nullptr) ++used_;
                slots_[i] = header;
                ++count_;
                return true;
            }
        }
    }

    void Erase(const DynamicHeader* header) {
        long long i = Find(header);
        if (i < 0) return;
        slots_[i] = Tombstone();
        --count_;
    }

  private:
    static DynamicHeader* Tombstone() { return reinterpret_cast<DynamicHeader*>(uintptr_t{1}); }
    static size_t Hash(const void* p) {
        return static_cast<size_t>((reinterpret_cast<uintptr_t>(p) >> 4) * 0x9E3779B97F4A7C15ull);
    }

    long long Find(const DynamicHeader* header) const {
        if (!capacity_ || header == nullptr || header == Tombstone()) return -1;
        size_t mask = capacity_ - 1;
        for (size_t i = Hash(header) & mask;; i = (i + 1) & mask) {
            if (slots_[i] == header) return static_cast<long long>(i);
            if (slots_[i] == nullptr) return -1;
        }
    }

    bool Rehash(size_t capacity) {
        // Shrinking back is never needed: tombstones are dropped here, so a table whose
        // dynamic objects come and go stays at the size of its peak.
        while (count_ * 2 + 2 > capacity) capacity *= 2;
        auto** slots = static_cast<DynamicHeader**>(RuntimeAllocate(capacity * sizeof(void*)));
        if (!slots) return false;
        for (size_t i = 0; i < capacity_; ++i) {
            DynamicHeader* h = slots_[i];
            if (h == nullptr || h == Tombstone()) continue;
            size_t j = Hash(h) & (capacity - 1);
            while (slots[j]) j = (j + 1) & (capacity - 1);
            slots[j] = h;
        }
        RuntimeFree(slots_);
        slots_ = slots;
        capacity_ = capacity;
        used_ = count_;
        return true;
    }

    DynamicHeader** slots_ = nullptr;
    size_t capacity_ = 0;
    size_t used_ = 0; // live + tombstones
    size_t count_ = 0;
};

bool IsLive(const void* record) {
    uint64_t word;
    std::memcpy(&word, record, sizeof word);
    return word != 0;
}

} // namespace

struct ObjectTable {
    int32_t recordSize;
    int32_t step;
    int64_t slotCount;
    void** slots;
    DynamicHeader* dynamicHead;
    int64_t cursorSlot;
    DynamicHeader* cursorDynamic;
    ObjectReleaseProcedure release;
    Lock lock{LockKind::Recursive}; // a release procedure may take it again
    DynamicIndex index;

    bool InRange(int64_t number) const { return number >= 0 && number < slotCount; }

    DynamicHeader* Dynamic(int64_t number) const {
        // A valid identifier is the address just past a header; check before touching it.
        auto* header = reinterpret_cast<DynamicHeader*>(static_cast<uintptr_t>(number)) - 1;
        return index.Contains(header) ? header : nullptr;
    }

    void Unlink(DynamicHeader* header) {
        if (cursorDynamic == header) cursorDynamic = header->next;
        if (header->previous)
            header->previous->next = header->next;
        else
            dynamicHead = header->next;
        if (header->next) header->next->previous = header->previous;
        index.Erase(header);
        RuntimeFree(header);
    }
};

ObjectTable* ObjectTableCreate(int32_t recordSize, int32_t step, ObjectReleaseProcedure release) {
    if (recordSize < 8) recordSize = 8;
    if (step < 1) step = 1;
    void* memory = RuntimeAllocate(sizeof(ObjectTable));
    if (!memory) return nullptr;
    auto* table = new (memory) ObjectTable{};
    table->slots = static_cast<void**>(RuntimeAllocate(sizeof(void*) * step));
    if (!table->slots) {
        table->~ObjectTable();
        RuntimeFree(memory);
        return nullptr;
    }
    table->recordSize = recordSize;
    table->step = step;
    table->slotCount = step;
    table->release = release;
    return table;
}

void* ObjectAllocate(ObjectTable* table, int64_t number) {
    if (!table) return nullptr;
    LockGuard guard(table->lock);
    if (number == AnyNumber) {
        auto* header =
            static_cast<DynamicHeader*>(RuntimeAllocate(sizeof(DynamicHeader) + table->recordSize));
        if (!header) return nullptr;
        if (!table->index.Insert(header)) {
            RuntimeFree(header);
            return nullptr;
        }
        header->next = table->dynamicHead;
        if (header->next) header->next->previous = header;
        table->dynamicHead = header;
        return RecordOf(header);
    }
    if (number < 0 || number > ObjectNumberLimit) return nullptr;
    if (number >= table->slotCount) {
        int64_t count = number + table->step;
        auto* slots =
            static_cast<void**>(RuntimeReallocate(table->slots, sizeof(void*) * size_t(count)));
        if (!slots) return nullptr;
        table->slots = slots;
        table->slotCount = count;
    }
    if (table->slots[number]) {
        // The number is taken: destroy the previous object, then reuse its block.
        if (table->release) table->release(number);
        std::memset(table->slots[number], 0, size_t(table->recordSize));
        return table->slots[number];
    }
    void* record = RuntimeAllocate(size_t(table->recordSize));
    table->slots[number] = record;
    return record;
}

void* ObjectGet(ObjectTable* table, int64_t number) {
    if (!table) return nullptr;
    LockGuard guard(table->lock);
    void* record = nullptr;
    if (table->InRange(number))
        record = table->slots[number];
    else if (DynamicHeader* header = table->Dynamic(number))
        record = RecordOf(header);
    return record && IsLive(record) ? record : nullptr;
}

void* ObjectFind(ObjectTable* table, int64_t number) {
    if (!table) return nullptr;
    LockGuard guard(table->lock);
    if (table->InRange(number)) {
        void* record = table->slots[number];
        return record && IsLive(record) ? record : nullptr;
    }
    DynamicHeader* header = table->Dynamic(number);
    return header ? RecordOf(header) : nullptr;
}

void ObjectRelease(ObjectTable* table, int64_t number) {
    if (!table) return;
    LockGuard guard(table->lock);
    if (table->InRange(number)) {
        if (void* record = table->slots[number]) std::memset(record, 0, size_t(table->recordSize));
    } else if (DynamicHeader* header = table->Dynamic(number)) {
        table->Unlink(header);
    }
}

void ObjectReleaseAll(ObjectTable* table) {
    if (!table || !table->release) return;
    LockGuard guard(table->lock);
    table->cursorSlot = 0;
    table->cursorDynamic = table->dynamicHead;
    for (int64_t i = 0; i < table->slotCount; ++i) {
        void* record = table->slots[i];
        if (record && IsLive(record)) table->release(i);
    }
    while (DynamicHeader* head = table->dynamicHead) {
        table->release(ObjectDynamicId(RecordOf(head)));
        // A record that was never filled is not live, so the library's free operation
        // ignores it; unlink it here or this loop would never end.
        if (table->dynamicHead == head) table->Unlink(head);
    }
}

void ObjectEnumerateStart(ObjectTable* table) {
    if (!table) return;
    table->lock.Acquire();
    table->cursorSlot = 0;
    table->cursorDynamic = table->dynamicHead;
}

void* ObjectEnumerateNext(ObjectTable* table, int64_t* number) {
    if (!table) return nullptr;
    while (table->cursorSlot < table->slotCount) {
        int64_t i = table->cursorSlot++;
        void* record = table->slots[i];
        if (record && IsLive(record)) {
            if (number) *number = i;
            return record;
        }
    }
    while (DynamicHeader* header = table->cursorDynamic) {
        table->cursorDynamic = header->next;
        void* record = RecordOf(header);
        if (IsLive(record)) {
            if (number) *number = ObjectDynamicId(record);
            return record;
        }
    }
    table->lock.Release();
    return nullptr;
}
