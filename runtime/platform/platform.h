// Thin layer over the operating system. The portable runtime code calls only these;
// platform_win.cpp implements them with Win32, platform_posix.cpp with POSIX stand-ins
// so that the portable libraries can be tested natively on Linux.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// Private growable heaps. Allocation is thread-safe; zero-filled when asked.
void* HeapCreate();
void HeapDestroy(void* heap);
void* HeapAllocate(void* heap, size_t size, bool zero);
void* HeapReallocate(void* heap, void* block, size_t size, bool zero);
void HeapRelease(void* heap, void* block);

// Thread-local slots.
bool TlsAllocate(uint32_t* slot);
void TlsRelease(uint32_t slot);
void* TlsGetValue(uint32_t slot);
void TlsSetValue(uint32_t slot, void* value);

// Threads. A handle stays valid until HandleClose, whether or not the thread has ended.
using ThreadBody = void (*)(intptr_t argument);
void* ThreadCreate(ThreadBody body, intptr_t argument);
bool ThreadHasEnded(void* thread);
// The calling thread's identifier, distinct among the threads that are running.
uint64_t CurrentThreadId();
void ThreadHandleClose(void* thread);
// A thread nobody waits for: no handle is kept. On Windows stackSize is the stack's
// initially committed part; on POSIX it is a minimum, raised to the system's default there
// (a POSIX stack cannot grow, and sanitizers need more than a few pages).
bool DetachedThreadCreate(ThreadBody body, intptr_t argument, uint32_t stackSize);

// Mutual-exclusion locks in storage the caller provides. A recursive lock may be taken
// again by the thread that holds it; a plain one must not be.
struct LockStorage {
    alignas(8) unsigned char bytes[56];
};
void LockCreate(LockStorage* lock, bool recursive);
void LockDestroy(LockStorage* lock);
void LockAcquire(LockStorage* lock);
void LockRelease(LockStorage* lock);

// Runs callback(context) once the calling thread has ended (Windows: on a thread-pool
// thread after the thread's handle is signalled; POSIX: from the thread's exit hook).
// The callback must call ThreadEndWatchRelease(watch) first.
using ThreadEndCallback = void (*)(void* context);
void* ThreadEndWatch(ThreadEndCallback callback, void* context);
void ThreadEndWatchRelease(void* watch);

// Timing.
bool CounterFrequency(int64_t* countsPerSecond);
int64_t CounterRead();
uint32_t TickCount();
void RaiseTimerResolution();
void Sleep(uint32_t milliseconds);

// Process environment. Strings are NUL-terminated UTF-16.
// Copies the executable's full path into buffer (capacity in units, terminator included);
// a longer path is cut to capacity - 1 units.
void ModuleFileName(char16_t* buffer, size_t capacity);
const char16_t* CommandLine();
bool ChangeDirectory(const char16_t* path);
// FileSizeOf's primitives.
uint32_t DriveType(const char16_t* root);
// Finds the first entry matching name: true with its kind and size, false when none.
bool FindFirstEntry(const char16_t* name, bool* isDirectory, int64_t* size);
// Attribute query: true with the kind when the name exists.
bool FileAttributes(const char16_t* name, bool* isDirectory);
intptr_t ShellOpen(const char16_t* verb, const char16_t* file, const char16_t* parameters,
                   const char16_t* directory);
// A DLL of the system folder by file name, or null.
void* SystemLibraryLoad(const char16_t* fileName);

// Lower-cases text in place with the system's mapping for the user's language.
void LowerCaseInPlace(char16_t* text, size_t length);

// Sets the C runtime locale to the user's default, with the numeric category "C".
void SetUserLocaleWithCNumbers();

[[noreturn]] void ExitProcess(uint32_t code);

} // namespace platform
