#include "runtime.h"

#include "environment.h"
#include "heap.h"
#include "platform.h"
#include "strings.h"
#include "threads.h"

namespace {

bool gStarted = false;

RuntimeLibrary gLibraries[static_cast<int>(RuntimeLibraryId::Count)] = {};

// The release order at shutdown. The string and parameter libraries hold nothing that
// outlives the process, so they have no step here.
constexpr RuntimeLibraryId kShutdownOrder[] = {
    RuntimeLibraryId::Threads, RuntimeLibraryId::Sound,      RuntimeLibraryId::Windows,
    RuntimeLibraryId::Ole,     RuntimeLibraryId::TrayIcons,  RuntimeLibraryId::Json,
    RuntimeLibraryId::Images,  RuntimeLibraryId::EventQueue,
};

} // namespace

void RuntimeUse(const RuntimeLibrary& library) {
    int index = static_cast<int>(library.id);
    if (index >= 0 && index < static_cast<int>(RuntimeLibraryId::Count))
        gLibraries[index] = library;
}

void RuntimeInit() {
    if (gStarted) return;
    gStarted = true;
    RuntimeHeapsCreate();
    platform::SetUserLocaleWithCNumbers();
    // The runtime's own libraries are always there.
    RuntimeUse({RuntimeLibraryId::Strings, StringLibraryInit, nullptr});
    RuntimeUse({RuntimeLibraryId::Parameters, ParameterLibraryInit, nullptr});
    RuntimeUse({RuntimeLibraryId::Threads, ThreadLibraryInit, ThreadLibraryShutdown});
    for (const RuntimeLibrary& library : gLibraries)
        if (library.start) library.start();
}

void RuntimeShutdown() {
    for (RuntimeLibraryId id : kShutdownOrder) {
        const RuntimeLibrary& library = gLibraries[static_cast<int>(id)];
        if (library.release) library.release();
    }
    ThreadLocalShutdown();
    // The string heap ends with the process: other threads may still be using their
    // scratch areas while we exit.
    RuntimeHeapsDestroy();
    platform::ExitProcess(0);
}
