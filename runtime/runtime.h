// The runtime frame: the ordered start and shutdown of the runtime libraries. It sits on
// top of the runtime: the heaps (heap.h) and the clock (clock.h) know nothing of it.
#pragma once

#include <cstddef>
#include <cstdint>

// The runtime libraries, in start-up order. Each library that exists registers its start
// and release steps with RuntimeUse() before RuntimeInit(); the others keep their place.
enum class RuntimeLibraryId : int {
    Strings,
    EventQueue,
    Images,
    Json,
    TrayIcons,
    Ole,
    Windows,
    Menus,
    Parameters,
    Requesters,
    Threads,
    Sound, // started by the application itself (SoundSystemInit); released second
    Count
};

struct RuntimeLibrary {
    RuntimeLibraryId id;
    void (*start)();   // run by RuntimeInit in start-up order; may be null
    void (*release)(); // run by RuntimeShutdown in shutdown order; may be null
};

// Everything here belongs to the main thread: RuntimeUse and RuntimeInit at start-up,
// before any other thread exists, RuntimeShutdown at the end.

// Registers a library's steps; call before RuntimeInit. Registering an id again replaces it;
// an id outside the enumeration is ignored.
void RuntimeUse(const RuntimeLibrary& library);

// Creates the heaps, sets the locale (user's default, numbers with a point) and starts
// every registered library in order. Safe to call more than once: only the first call acts.
void RuntimeInit();

// Releases the libraries in shutdown order (threads, sound, windows, OLE, tray icons, JSON,
// images, event queue), frees the per-thread storage slot, destroys the heaps and ends the
// process with exit code 0.
[[noreturn]] void RuntimeShutdown();
