// Helpers shared by the runtime's tests.
#pragma once

#include <chrono>
#include <string>
#include <thread>

// Polls condition for up to timeout; true once it holds.
template <class Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

inline std::string Utf8(const char16_t* text) {
    std::string out;
    for (; text && *text; ++text) out += *text < 0x80 ? char(*text) : '?';
    return out;
}

// Per-thread blocks registered by main() before any test thread exists; the log records
// init and cleanup calls ("iA", "iB", "cB", "cA").
extern int64_t gBlockA;
extern int64_t gBlockB;
// Registrations that main() made while memory was short, and the log of the start-up.
extern int64_t gRefusedBlocks[2];
extern std::string gStartLog;
std::string TakeBlockLog();
std::string TakeBlockLogPeek();
