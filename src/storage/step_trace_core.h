#pragma once
// The time each step of a capture took, for one log line per capture:
// "Screenshot steps: device 12 ms, capture start 30 ms, …, total 159 ms".
// Readings come from a steady counter and its frequency, as parameters.
#include <cstdint>
#include <string>
#include <vector>

class StepTrace {
public:
    StepTrace(int64_t startTicks, int64_t frequency) : start_(startTicks), last_(startTicks), frequency_(frequency) {}
    // The step just finished at `ticks`, since the previous one (or the start).
    void Step(const wchar_t* name, int64_t ticks);
    // "<what> steps: name N ms, …, total N ms"; a step under a millisecond shows as 0.
    std::wstring Line(const std::wstring& what) const;

private:
    int64_t Milliseconds(int64_t ticks) const;

    struct Entry {
        const wchar_t* name;
        int64_t ms;
    };
    int64_t start_, last_, frequency_;
    std::vector<Entry> steps_;
};
