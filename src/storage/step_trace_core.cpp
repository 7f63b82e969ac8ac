#include "storage/step_trace_core.h"

int64_t StepTrace::Milliseconds(int64_t ticks) const {
    if (frequency_ <= 0 || ticks <= 0) return 0;
    return ticks * 1000 / frequency_;
}

void StepTrace::Step(const wchar_t* name, int64_t ticks) {
    steps_.push_back({name, Milliseconds(ticks - last_)});
    last_ = ticks;
}

std::wstring StepTrace::Line(const std::wstring& what) const {
    std::wstring line = what + L" steps: ";
    for (const Entry& step : steps_) line += std::wstring(step.name) + L" " + std::to_wstring(step.ms) + L" ms, ";
    return line + L"total " + std::to_wstring(Milliseconds(last_ - start_)) + L" ms";
}
