// Parses arbitrary bytes, writes the tree in both layouts and checks that the texts read
// back to the same tree.
#include "../roundtrip.h"

#include "json/json.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool started = [] {
        RuntimeUse(JsonLibrary());
        RuntimeInit();
        return true;
    }();
    (void)started;
    std::string problem = JsonRoundTrip(data, size);
    if (!problem.empty()) {
        std::fprintf(stderr, "round trip: %s\n", problem.c_str());
        std::abort();
    }
    return 0;
}
