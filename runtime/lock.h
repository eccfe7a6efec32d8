// Mutual-exclusion locks and helper threads: the one way the libraries lock and start a
// thread of their own. A critical section or an SRW lock on Windows, a pthread mutex
// elsewhere.
#pragma once

#include <cstdint>

enum class LockKind { Plain, Recursive };

// A lock is made in its constructor and never fails. A recursive lock may be taken again
// by the thread that holds it; taking a plain one twice on one thread deadlocks.
class Lock {
  public:
    explicit Lock(LockKind kind = LockKind::Plain);
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

    void Acquire();
    void Release();

    static constexpr int kStorageBytes = 56; // the largest platform lock, with its kind

  private:
    alignas(8) unsigned char storage_[kStorageBytes];
};

// Holds a lock for the rest of a scope.
class LockGuard {
  public:
    explicit LockGuard(Lock& lock) : lock_(lock) { lock_.Acquire(); }
    ~LockGuard() { lock_.Release(); }
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;

  private:
    Lock& lock_;
};

// Starts procedure(argument) on a thread of its own that nobody waits for: its handle is
// closed at once and it takes no number from ThreadStart. stackSize is the stack's initially
// committed size on Windows (a minimum elsewhere). False when the thread could not be made.
bool HelperThreadStart(void (*procedure)(intptr_t argument), intptr_t argument, uint32_t stackSize);
