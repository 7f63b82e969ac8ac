#include "recording_rules_core.h"

#include <algorithm>
#include <new>
#include <thread>

OutputSize ChooseOutputSize(int32_t sourceWidth, int32_t sourceHeight, int32_t resolution) {
    OutputSize size{sourceWidth, sourceHeight};
    if (resolution != 0 && sourceHeight > resolution && sourceHeight > 0) {
        size.height = resolution;
        size.width = static_cast<int32_t>(static_cast<double>(resolution) * sourceWidth / sourceHeight + 0.5);
    }
    size.width &= ~1;
    size.height &= ~1;
    return size;
}

std::wstring RecordingRegionProblem(const ScreenRect& region, int32_t resolution) {
    std::wstring problem = RegionProblem(region);
    if (!problem.empty()) return problem;
    const OutputSize size = ChooseOutputSize(region.Width() & ~1, region.Height() & ~1, resolution);
    if (size.width < kMinimumRegionSide || size.height < kMinimumRegionSide)
        problem = RegionProblem({0, 0, std::min(size.width, size.height), 0});
    return problem;
}

uint32_t VideoBitRate(int32_t height, int32_t fps) {
    const double base = height <= 720 ? 4000000.0 : height <= 1080 ? 8000000.0 : 14000000.0;
    const double factor = fps <= 15 ? 0.6 : fps < 60 ? 1.0 : 1.5;
    return static_cast<uint32_t>(base * factor);
}

Placement LetterboxPlacement(int32_t sourceWidth, int32_t sourceHeight, int32_t width, int32_t height) {
    Placement p{0, 0, width, height};
    if (sourceWidth <= 0 || sourceHeight <= 0 || width <= 0 || height <= 0) return p;
    const double sourceAspect = static_cast<double>(sourceWidth) / sourceHeight;
    const double outputAspect = static_cast<double>(width) / height;
    if (sourceAspect > outputAspect + 0.01) {
        const auto fitted = static_cast<int32_t>(width / sourceAspect);
        p.top = (height - fitted) / 2;
        p.bottom = p.top + fitted;
    } else if (sourceAspect < outputAspect - 0.01) {
        const auto fitted = static_cast<int32_t>(height * sourceAspect);
        p.left = (width - fitted) / 2;
        p.right = p.left + fitted;
    }
    return p;
}

int64_t FrameInterval(int32_t fps) { return fps > 0 ? 10000000 / fps : 10000000; }

int64_t TicksToHundredNs(int64_t ticks, int64_t frequency) {
    if (frequency <= 0) return 0;
    return static_cast<int64_t>(static_cast<double>(ticks) * 10000000.0 / static_cast<double>(frequency));
}

ClockSnapshot PauseClock::Snapshot() const {
    for (;;) {
        const uint64_t before = sequence_.load(std::memory_order_acquire);
        if (before % 2 != 0) {
            std::this_thread::yield();
            continue;
        }
        ClockSnapshot s;
        s.paused = paused_.load(std::memory_order_relaxed);
        s.pausedTicks = pausedTicks_.load(std::memory_order_relaxed);
        s.pauseCounter = pauseCounter_.load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        if (sequence_.load(std::memory_order_relaxed) == before) return s;
    }
}

template <typename Change>
bool PauseClock::Write(Change change) {
    // Making the sequence odd also shuts out a second writer until this one is done.
    uint64_t sequence = sequence_.load(std::memory_order_relaxed);
    for (;;) {
        if (sequence % 2 != 0) {
            std::this_thread::yield();
            sequence = sequence_.load(std::memory_order_relaxed);
        } else if (sequence_.compare_exchange_weak(sequence, sequence + 1, std::memory_order_acquire,
                                                   std::memory_order_relaxed)) {
            break;
        }
    }
    std::atomic_thread_fence(std::memory_order_release);
    ClockSnapshot s{paused_.load(std::memory_order_relaxed), pausedTicks_.load(std::memory_order_relaxed),
                    pauseCounter_.load(std::memory_order_relaxed)};
    const bool changed = change(s);
    if (changed) {
        paused_.store(s.paused, std::memory_order_relaxed);
        pausedTicks_.store(s.pausedTicks, std::memory_order_relaxed);
        pauseCounter_.store(s.pauseCounter, std::memory_order_relaxed);
    }
    sequence_.store(sequence + 2, std::memory_order_release);
    return changed;
}

bool PauseClock::Pause(int64_t now) {
    return Write([now](ClockSnapshot& s) {
        if (s.paused) return false;
        s.paused = true;
        s.pauseCounter = now;
        return true;
    });
}

bool PauseClock::Resume(int64_t now) {
    return Write([now](ClockSnapshot& s) {
        if (!s.paused) return false;
        s.paused = false;
        s.pausedTicks += now - s.pauseCounter;
        s.pauseCounter = 0;
        return true;
    });
}

void PauseClock::Reset() {
    Write([](ClockSnapshot& s) {
        s = ClockSnapshot{};
        return true;
    });
}

int64_t RecordingTimeAt(int64_t now, int64_t startCounter, const ClockSnapshot& pause, int64_t frequency) {
    const int64_t end = pause.paused ? pause.pauseCounter : now;
    const int64_t t = end - startCounter - pause.pausedTicks;
    if (t < 0) return 0;
    return TicksToHundredNs(t, frequency);
}

PaceStep PaceFrame(int64_t now, int64_t nextTime, int64_t interval) {
    PaceStep step;
    step.nextTime = nextTime;
    if (now < nextTime) {
        // Never more than one interval at a time, so a stop or a clock that
        // jumps is seen within one frame.
        step.wait = nextTime - now;
        if (interval > 0 && step.wait > interval) step.wait = interval;
        return step;
    }
    step.write = true;
    if (interval > 0 && now - nextTime > 5 * interval) {
        step.skipped = (now - nextTime) / interval;
        step.nextTime = now - now % interval;
    }
    return step;
}

bool SyncMarkerWhite(int64_t frameTime, int64_t startHundredNs, int64_t pausedHundredNs) {
    int64_t phase = (frameTime + startHundredNs + pausedHundredNs) % 10000000;
    if (phase < 0) phase += 10000000;
    return phase < 1000000;
}

bool PictureWatch::Failed(int64_t now, bool deviceGone) {
    if (deviceGone) return true;
    if (failingSince_ < 0) failingSince_ = now;
    return now - failingSince_ >= kGiveUpAfter;
}

bool EarlyWrites::Keep(uint32_t stream, const void* data, size_t size, int64_t time, int64_t duration) {
    if (givenUp_) return false;
    if (size > kEarlyWritesLimit - bytes_) {
        Clear(true);
        return false;
    }
    try {
        Write write;
        write.stream = stream;
        write.time = time;
        write.duration = duration;
        const auto* first = static_cast<const uint8_t*>(data);
        write.bytes.assign(first, first + size);
        writes_.push_back(std::move(write));
    } catch (const std::bad_alloc&) {
        Clear(true);
        return false;
    }
    bytes_ += size;
    return true;
}

void EarlyWrites::Clear(bool giveUp) {
    std::vector<Write>().swap(writes_);
    bytes_ = 0;
    givenUp_ = giveUp;
}
