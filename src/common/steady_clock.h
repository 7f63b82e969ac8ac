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
