// Helpers shared by the runtime's tests.
#pragma once

#include "runtime/tests/wait_until.h"

#include <string>

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
