// Timing helper shared by the benchmarks.
#pragma once

#include <chrono>

// Average time of one call of body(i), i = 0 .. calls - 1, in Unit (std::nano, std::micro...).
template <class Unit, class Body> double TimePerCall(long calls, Body body) {
    auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < calls; ++i) body(i);
    return std::chrono::duration<double, Unit>(std::chrono::steady_clock::now() - start).count() /
           calls;
}
