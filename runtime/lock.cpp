#include "lock.h"

#include "platform.h"

namespace {

platform::LockStorage* Storage(unsigned char* bytes) {
    return reinterpret_cast<platform::LockStorage*>(bytes);
}

} // namespace

static_assert(sizeof(platform::LockStorage) == Lock::kStorageBytes);

Lock::Lock(LockKind kind) {
    platform::LockCreate(Storage(storage_), kind == LockKind::Recursive);
}

Lock::~Lock() {
    platform::LockDestroy(Storage(storage_));
}

void Lock::Acquire() {
    platform::LockAcquire(Storage(storage_));
}

void Lock::Release() {
    platform::LockRelease(Storage(storage_));
}

bool HelperThreadStart(void (*procedure)(intptr_t argument), intptr_t argument,
                       uint32_t stackSize) {
    return procedure && platform::DetachedThreadCreate(procedure, argument, stackSize);
}
