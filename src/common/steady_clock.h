#pragma once
// The performance counter, the program's steady clock for timing steps.
#include <windows.h>

#include <cstdint>

inline int64_t SteadyTicks() {
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

inline int64_t SteadyFrequency() {
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
}

// The performance counter in 100-ns units, the unit of the recording clock.
inline int64_t SteadyHundredNs() {
    return static_cast<int64_t>(static_cast<double>(SteadyTicks()) * 10000000.0 / static_cast<double>(SteadyFrequency()));
}
