// The stand-in for the native message pump on POSIX systems, so that the queue and its
// wake-up run in native tests: one message queue for the main thread that any thread may
// post to, taken one message at a time by WaitEvent.
#include "events.h"
#include "ui_internal.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace {

struct NativeMessage {
    uint32_t message;
    int64_t window;
    intptr_t param;
};

// Where a Win32 RegisterWindowMessage number would lie.
constexpr uint32_t kWakeMessage = 0xC100;

std::mutex gLock;
std::condition_variable gArrived;
std::deque<NativeMessage> gMessages;
PosixDispatchProcedure gDispatcher = nullptr;
bool gStarted = false;
std::thread::id gMainThread;

} // namespace

void EventPlatformInit() {
    std::lock_guard guard(gLock);
    gStarted = true;
    gMainThread = std::this_thread::get_id();
}

void EventPlatformShutdown() {
    std::lock_guard guard(gLock);
    gMessages.clear();
    gStarted = false;
}

uint32_t EventWakeMessage() {
    std::lock_guard guard(gLock);
    return gStarted ? kWakeMessage : 0;
}

void EventPlatformWake() {
    PosixPostMessage(kWakeMessage, -1, 0);
}

void EventQueueWake() {
    EventPlatformWake();
}

void PosixSetDispatcher(PosixDispatchProcedure dispatcher) {
    std::lock_guard guard(gLock);
    gDispatcher = dispatcher;
}

void PosixPostMessage(uint32_t message, int64_t window, intptr_t param) {
    {
        std::lock_guard guard(gLock);
        if (!gStarted) return;
        gMessages.push_back({message, window, param});
    }
    gArrived.notify_one();
}

int64_t EventPlatformPump(int32_t timeoutMs) {
    std::unique_lock lock(gLock);
    if (std::this_thread::get_id() != gMainThread) {
        // Only the main thread has native messages here; another thread's wait ends at once
        // rather than taking the main thread's messages or blocking for good.
        return 0;
    }
    auto ready = [] { return !gMessages.empty(); };
    if (timeoutMs < 0)
        gArrived.wait(lock, ready);
    else if (!gArrived.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready))
        return 0;
    NativeMessage taken = gMessages.front();
    gMessages.pop_front();
    PosixDispatchProcedure dispatcher = gDispatcher;
    lock.unlock();
    // The wake-up message only interrupts the wait; like the wake-up window's default
    // procedure, nothing handles it.
    if (taken.message != kWakeMessage && dispatcher)
        dispatcher(taken.message, taken.window, taken.param);
    return taken.message;
}
