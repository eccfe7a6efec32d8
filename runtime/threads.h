// Threads with per-thread storage and clean-up after a thread ends.
//
// Threads: ThreadStart, ThreadLocalGet and AtThreadExit may be called from any thread;
// ThreadLocalRegister, ThreadLibraryInit/Shutdown and ThreadLocalShutdown belong to the
// main thread during start-up and shutdown.
#pragma once

#include <cstdint>

using ThreadProcedure = void (*)(intptr_t argument);

// Starts procedure(argument) on a new thread; returns its number (1, 2, 3, ...; never
// reused), or 0 when the thread could not be created or procedure is null (no number is
// used up then).
int64_t ThreadStart(ThreadProcedure procedure, intptr_t argument);

// The calling thread's system identifier, distinct among the threads that are running.
uint64_t ThreadCurrentId();

// Creates the registry's lock (runtime start-up; ThreadStart does it too when needed).
void ThreadLibraryInit();
// Closes the handles of the started threads; the threads themselves keep running.
void ThreadLibraryShutdown();

// Per-thread storage. Blocks are registered during start-up, on the main thread, before any
// other thread exists. Returns the block's offset in every thread's area (a multiple of 8;
// a negative size counts as 0), or -1 when memory is short: the registration is then
// refused whole (no room taken, init and cleanup never run). init runs on a thread's new
// block when the thread's area is created (for the registering thread: at once); cleanup
// runs after the thread has ended, newest registration first. Either may be null.
using ThreadLocalProcedure = void (*)(void* block);
[[nodiscard]] int64_t ThreadLocalRegister(int64_t size, ThreadLocalProcedure init,
                                          ThreadLocalProcedure cleanup);
// Address of the calling thread's block at offset; creates the thread's area on first use.
// Null when nothing was registered or memory for the area is short. Should the area's
// clean-up not be arranged for lack of memory, the area stays usable and is not cleaned.
void* ThreadLocalGet(int64_t offset);
// Frees the storage slot (shutdown); does nothing when nothing was registered.
void ThreadLocalShutdown();

// Arranges for procedure(argument) to run after the calling thread has ended (most recently
// registered first): on Windows on a thread of the system's thread pool, elsewhere in the
// thread's own last moments. Returns a non-null token, or null when
// procedure is null or memory is short (the procedure then never runs).
using ThreadExitProcedure = void (*)(void* argument);
[[nodiscard]] void* AtThreadExit(ThreadExitProcedure procedure, void* argument);
