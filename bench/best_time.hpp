// What both floor helpers share: the best wall time of repeated runs.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <limits>

// The shortest of `repeats` runs of work, in nanoseconds.
template <class Work>
std::int64_t best_nanoseconds(int repeats, Work&& work) {
    std::int64_t best = std::numeric_limits<std::int64_t>::max();
    for (int r = 0; r < repeats; ++r) {
        const auto start = std::chrono::steady_clock::now();
        work();
        const auto elapsed = std::chrono::steady_clock::now() - start;
        best = std::min<std::int64_t>(best, std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count());
    }
    return best;
}
