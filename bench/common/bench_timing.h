#pragma once
// Timing for the benchmarks: the machine is shared, so each figure is the
// shortest of several rounds, the two sides of a comparison alternating.
#include <windows.h>

#include <algorithm>
#include <functional>

namespace tarn::bench {

inline double Seconds(const std::function<void()>& work) {
    LARGE_INTEGER frequency, start, end;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    work();
    ::QueryPerformanceCounter(&end);
    return static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

constexpr int kRoundsEach = 5;

inline void BestOf(const std::function<void()>& first, const std::function<void()>& second, double& firstBest,
                   double& secondBest) {
    firstBest = secondBest = 1e30;
    for (int round = 0; round < kRoundsEach; ++round) {
        firstBest = std::min(firstBest, Seconds(first));
        secondBest = std::min(secondBest, Seconds(second));
    }
}

}  // namespace tarn::bench
