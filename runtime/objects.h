// Numbered object tables: every library's objects are numbered from 0 by the caller, or
// created dynamically with AnyNumber, for which the library hands out an identifier.
//
// Every table has its own lock, so every operation may be called from any thread; a null
// table makes each of them do nothing (returning null where a record is the answer). The records
// themselves are not locked: the library that owns the table says who may change one.
#pragma once

#include <cstdint>

constexpr int64_t AnyNumber = -1;

struct ObjectTable;

// The library's operation that frees one object (also given AnyNumber by nobody here).
using ObjectReleaseProcedure = void (*)(int64_t number);

// Creates a table whose records are recordSize bytes (at least 8: the first 64-bit word is
// the object's native handle, and a record is live exactly while that word is non-zero).
// The numbered part grows in steps of step records (at least 1). Null when memory is short.
ObjectTable* ObjectTableCreate(int32_t recordSize, int32_t step, ObjectReleaseProcedure release);

// Returns the zero-filled record for number, destroying the object that held the number
// before (through the release procedure). For AnyNumber, a new dynamic record whose address
// is its identifier (ObjectDynamicId). Null when memory is short or the number is negative
// or beyond the highest number a table accepts.
void* ObjectAllocate(ObjectTable* table, int64_t number);

// The live record for number, or null. Dynamic identifiers are validated: any number that
// names no live object yields null, never a stray access.
void* ObjectGet(ObjectTable* table, int64_t number);

// Whether an object exists: numbered records as ObjectGet; a dynamic identifier yields its
// record whenever it names a dynamic record of this table, live or not.
void* ObjectFind(ObjectTable* table, int64_t number);

// Zero-fills a numbered record (kept for reuse) or unlinks and frees a dynamic one.
void ObjectRelease(ObjectTable* table, int64_t number);

// Calls the release procedure for every numbered object in ascending order, then for each
// dynamic object, newest first, until none is left.
void ObjectReleaseAll(ObjectTable* table);

// The identifier of a dynamic record (one that ObjectAllocate returned for AnyNumber).
inline int64_t ObjectDynamicId(const void* record) {
    return reinterpret_cast<intptr_t>(record);
}

// Enumeration of live records: numbered ones in ascending order, then dynamic ones newest
// first. The table's lock is held from ObjectEnumerateStart until ObjectEnumerateNext
// returns null, so the calling thread must walk to the end.
void ObjectEnumerateStart(ObjectTable* table);
void* ObjectEnumerateNext(ObjectTable* table, int64_t* number);

// Highest caller-chosen number a table accepts; larger ones fail allocation.
constexpr int64_t ObjectNumberLimit = (int64_t{1} << 24) - 1;

// A table whose records are Record: sizes come from the type and no caller casts. Record
// must start with its 64-bit native handle (see ObjectTableCreate). The wrapper is as thin as
// the functions above; Table() hands the plain table to what takes one.
template <typename Record> class ObjectTableOf {
    static_assert(sizeof(Record) >= 8, "a record starts with its 64-bit native handle");
    static_assert(sizeof(Record) <= INT32_MAX);

  public:
    // Creates the table unless it exists; false when memory is short.
    bool Create(int32_t step, ObjectReleaseProcedure release) {
        if (!table_) table_ = ObjectTableCreate(int32_t(sizeof(Record)), step, release);
        return table_ != nullptr;
    }
    ObjectTable* Table() const { return table_; }
    explicit operator bool() const { return table_ != nullptr; }

    Record* Allocate(int64_t number) {
        return static_cast<Record*>(ObjectAllocate(table_, number));
    }
    Record* Get(int64_t number) const { return static_cast<Record*>(ObjectGet(table_, number)); }
    Record* Find(int64_t number) const { return static_cast<Record*>(ObjectFind(table_, number)); }
    void Release(int64_t number) { ObjectRelease(table_, number); }
    void ReleaseAll() { ObjectReleaseAll(table_); }
    void EnumerateStart() { ObjectEnumerateStart(table_); }
    Record* EnumerateNext(int64_t* number = nullptr) {
        return static_cast<Record*>(ObjectEnumerateNext(table_, number));
    }

  private:
    ObjectTable* table_ = nullptr;
};
