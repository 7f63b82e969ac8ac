#pragma once
// The recording's arithmetic: output size, bit rate, bar placement, the
// recording clock and the pacing of frames.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "capture/region_core.h"

struct OutputSize {
    int32_t width = 0;
    int32_t height = 0;
};

// Only downscaling: a source taller than the limit is scaled to it, keeping
// its aspect; both sides even. A limit of 0 keeps the source size.
OutputSize ChooseOutputSize(int32_t sourceWidth, int32_t sourceHeight, int32_t resolution);

// The sentence that refuses a region for a recording at `resolution`: too
// small already, or with a side that scaling down would take under 16 pixels
// (a tall, thin strip); "" when it can be recorded.
std::wstring RecordingRegionProblem(const ScreenRect& region, int32_t resolution);

// Bits per second by output height and frame rate.
uint32_t VideoBitRate(int32_t height, int32_t fps);

struct Placement {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
};

// Where the source picture goes in the output frame: the whole frame, or
// centred with bars when the aspects differ by more than 0.01.
Placement LetterboxPlacement(int32_t sourceWidth, int32_t sourceHeight, int32_t width, int32_t height);

// 100-ns units per frame (integer division).
int64_t FrameInterval(int32_t fps);

// Counter ticks as 100-ns units (integer part, double precision).
int64_t TicksToHundredNs(int64_t ticks, int64_t frequency);

// The pause state of a recording, as one consistent reading. Counter values
// are performance-counter ticks.
struct ClockSnapshot {
    bool paused = false;
    int64_t pausedTicks = 0;   // spent in finished pauses
    int64_t pauseCounter = 0;  // when the current pause began; 0 when running
};

// The pause state shared by the thread that pauses and resumes and the loops
// that read it. A seqlock: readers never block the writer and always get the
// three fields from one and the same change; writers may race each other.
class PauseClock {
public:
    ClockSnapshot Snapshot() const;
    // False when the clock already stood that way (nothing changes).
    bool Pause(int64_t now);
    bool Resume(int64_t now);
    void Reset();

private:
    template <typename Change>
    bool Write(Change change);

    // Odd while a writer is changing the fields below.
    std::atomic<uint64_t> sequence_{0};
    std::atomic<bool> paused_{false};
    std::atomic<int64_t> pausedTicks_{0};
    std::atomic<int64_t> pauseCounter_{0};
};

// The recording time in 100-ns units at counter `now`: time since start less
// paused time; it stands at the pause point while paused; never negative.
int64_t RecordingTimeAt(int64_t now, int64_t startCounter, const ClockSnapshot& pause, int64_t frequency);

// What the video loop does at recording time `now` when its next frame is due at `nextTime`.
struct PaceStep {
    bool write = false;       // false: wait `wait` first, then ask again
    int64_t wait = 0;         // 100-ns units, at most one frame interval
    int64_t skipped = 0;      // slots dropped to catch up
    int64_t nextTime = 0;     // the time stamp to write (after catching up)
};
PaceStep PaceFrame(int64_t now, int64_t nextTime, int64_t interval);

// The marker picture of the sync test is white for the first 100 ms of each
// whole counter second.
bool SyncMarkerWhite(int64_t frameTime, int64_t startHundredNs, int64_t pausedHundredNs);

// Whether a recording's picture has stopped for good: the graphics device is
// gone, or every copy or conversion has failed for two seconds of recording.
// A slot or two that fail now and then are passed over; the recording goes on.
class PictureWatch {
public:
    static constexpr int64_t kGiveUpAfter = 20000000;  // 2 s, in 100-ns units of recording time

    void Succeeded() { failingSince_ = -1; }
    // A copy or conversion failed at recording time `now`; true when the picture is lost.
    bool Failed(int64_t now, bool deviceGone);

private:
    int64_t failingSince_ = -1;
};

// A hardware encoder that fails this early in a recording (100-ns units) is
// replaced by the software one, as one that refuses its first picture is:
// some report the failure of their first pictures only on a later call.
constexpr int64_t kEncoderFallbackWithin = 10000000;

// Copies of what a hardware encoder was given in a recording's first second,
// so that the software encoder taking its place starts the file from the same
// first picture and sound. Bounded: past `kEarlyWritesLimit` bytes, or when
// memory for a copy cannot be had, the copies go and no replacement may be
// made any more (a later failure stops and keeps what was written).
constexpr size_t kEarlyWritesLimit = 402653184;  // 384 MiB: a second of 4K at 30 or 1440p at 60 frames

class EarlyWrites {
public:
    struct Write {
        uint32_t stream = 0;
        int64_t time = 0;
        int64_t duration = 0;
        std::vector<uint8_t> bytes;
    };
    // Keeps a copy of one accepted sample; false when the copies were given up.
    bool Keep(uint32_t stream, const void* data, size_t size, int64_t time, int64_t duration);
    // Ends the keeping: with `giveUp`, no replacement may be made from here on.
    void Clear(bool giveUp);
    void Reset() { Clear(false); }
    bool Complete() const { return !givenUp_; }
    const std::vector<Write>& Writes() const { return writes_; }

private:
    std::vector<Write> writes_;
    size_t bytes_ = 0;
    bool givenUp_ = false;
};

// Pictures the encoder may have waiting before a frame slot is passed over:
// an encoder slower than real time must not pile up pictures of several MB each.
constexpr uint64_t kMaxPicturesWaiting = 8;

// Free-space thresholds of a recording.
constexpr uint64_t kMinimumFreeBytes = 83886080;   // 80 MiB: refuse to start, or stop
constexpr uint64_t kLowSpaceBytes = 524288000;     // 500 MiB: warn once
