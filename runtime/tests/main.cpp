#include "runtime/environment.h"
#include "runtime/heap_internal.h"
#include "runtime/runtime.h"
#include "runtime/strings.h"
#include "runtime/threads.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

int64_t gBlockA = -1;
int64_t gBlockB = -1;
int64_t gRefusedBlocks[2] = {0, 0};
std::string gStartLog;

namespace {
std::mutex gLogLock;
std::string gLog;

void Log(const char* entry) {
    std::lock_guard guard(gLogLock);
    gLog += entry;
}
void InitA(void* block) {
    *static_cast<int64_t*>(block) = 0xA;
    Log("iA ");
}
void CleanupA(void*) {
    Log("cA ");
}
void InitB(void*) {
    Log("iB ");
}
void CleanupB(void*) {
    Log("cB ");
}
void InitRefused(void*) {
    Log("iR ");
}
void CleanupRefused(void*) {
    Log("cR ");
}

void StartBlocks() {
    gBlockA = ThreadLocalRegister(12, InitA, CleanupA);
    (void)ThreadLocalRegister(5, nullptr, nullptr); // reserves 8 bytes, no node
    // Memory short, once for the node and once for the area: refused whole.
    for (int after : {0, 1}) {
        HeapFailAllocationsAfter(after);
        gRefusedBlocks[after] = ThreadLocalRegister(8, InitRefused, CleanupRefused);
    }
    HeapFailAllocationsAfter(-1);
    gBlockB = ThreadLocalRegister(8, InitB, CleanupB);
}
} // namespace

std::string TakeBlockLog() {
    std::lock_guard guard(gLogLock);
    std::string log = gLog;
    gLog.clear();
    return log;
}

std::string TakeBlockLogPeek() {
    std::lock_guard guard(gLogLock);
    return gLog;
}

int main(int argc, char** argv) {
    // Child mode for the command-line tests: print what the runtime makes of our own
    // command line, one parameter per line.
    if (std::getenv("MORLETT_PRINT_PARAMETERS")) {
        RuntimeInit();
        std::printf("%lld\n", static_cast<long long>(ParameterCount()));
        for (;;) {
            ScratchMark mark;
            const char16_t* p = NextParameter();
            if (!*p) break;
            std::printf("[%s]\n", Utf8(p).c_str());
        }
        return 0;
    }
    RuntimeInit();
    // Like a library at start-up: register per-thread blocks before any other thread exists.
    StartBlocks();
    gStartLog = TakeBlockLog();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
