#include "audio/audio_core.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace {
constexpr int64_t kTicksPerSecond = 10'000'000;
constexpr int64_t kRate = 48000;
constexpr int64_t kToneRate = 48096;  // slightly off 48 kHz, as real devices are
constexpr int64_t kDriftTolerance = 240;  // 5 ms
// An offset beyond the tolerance is corrected once it has lasted this long;
// one of a second or more (a device that stalled) at once.
constexpr int64_t kSettleFrames = 2400;  // 50 ms
constexpr int64_t kTakenAtOnce = 48000;

// Assembled from bytes so the result does not depend on the host's byte order.
uint32_t ReadLittle(const uint8_t* at, int bytes) {
    uint8_t raw[4] = {};
    std::memcpy(raw, at, static_cast<size_t>(bytes));
    uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | raw[i];
    return value;
}

int BytesOf(SampleKind kind) {
    switch (kind) {
        case SampleKind::Int16: return 2;
        case SampleKind::Int24: return 3;
        case SampleKind::Float32:
        case SampleKind::Int32: return 4;
        default: return 0;
    }
}

float SampleAt(const uint8_t* at, SampleKind kind) {
    switch (kind) {
        case SampleKind::Float32: return std::bit_cast<float>(ReadLittle(at, 4));
        case SampleKind::Int16: return static_cast<int16_t>(ReadLittle(at, 2)) / 32768.0f;
        case SampleKind::Int24: return static_cast<int32_t>(ReadLittle(at, 3) << 8) / 2147483648.0f;
        case SampleKind::Int32: return static_cast<int32_t>(ReadLittle(at, 4)) / 2147483648.0f;
        default: return 0.0f;
    }
}

// A NaN from a misbehaving device would make the integer conversion undefined.
int16_t ToPcm16(float value) {
    if (value > 1.0f) value = 1.0f;
    else if (value < -1.0f) value = -1.0f;
    else if (value != value) value = 0.0f;
    return static_cast<int16_t>(value * 32767.0f);
}
}  // namespace

SampleKind KindOf(bool isFloat, int32_t bitsPerSample) {
    if (isFloat) return bitsPerSample == 32 ? SampleKind::Float32 : SampleKind::Unsupported;
    switch (bitsPerSample) {
        case 16: return SampleKind::Int16;
        case 24: return SampleKind::Int24;
        case 32: return SampleKind::Int32;
        default: return SampleKind::Unsupported;
    }
}

StereoGains DownmixGains(int32_t channels, uint32_t channelMask) {
    StereoGains gains;
    if (channels <= 0) return gains;
    if (channels == 1) {
        gains.left = gains.right = {1.0f};
        return gains;
    }
    // Speaker bits in the order Windows interleaves them.
    constexpr uint32_t kFrontLeft = 0x1, kFrontRight = 0x2, kFrontCentre = 0x4, kLowFrequency = 0x8,
                       kBackLeft = 0x10, kBackRight = 0x20, kFrontLeftOfCentre = 0x40,
                       kFrontRightOfCentre = 0x80, kBackCentre = 0x100, kSideLeft = 0x200, kSideRight = 0x400,
                       kTopCentre = 0x800, kTopFrontLeft = 0x1000, kTopFrontCentre = 0x2000,
                       kTopFrontRight = 0x4000, kTopBackLeft = 0x8000, kTopBackCentre = 0x10000,
                       kTopBackRight = 0x20000;
    if (channelMask == 0) {
        switch (channels) {
            case 2: channelMask = kFrontLeft | kFrontRight; break;
            case 3: channelMask = kFrontLeft | kFrontRight | kFrontCentre; break;
            case 4: channelMask = kFrontLeft | kFrontRight | kBackLeft | kBackRight; break;
            case 5: channelMask = kFrontLeft | kFrontRight | kFrontCentre | kBackLeft | kBackRight; break;
            case 6: channelMask = kFrontLeft | kFrontRight | kFrontCentre | kLowFrequency | kBackLeft | kBackRight; break;
            case 8:
                channelMask = kFrontLeft | kFrontRight | kFrontCentre | kLowFrequency | kBackLeft | kBackRight |
                              kSideLeft | kSideRight;
                break;
            default: break;
        }
    }
    constexpr float kHalfPower = 0.70710678f;  // -3 dB
    gains.left.assign(static_cast<size_t>(channels), 0.0f);
    gains.right.assign(static_cast<size_t>(channels), 0.0f);
    int32_t channel = 0;
    for (uint32_t bit = 1; bit != 0 && channel < channels; bit <<= 1) {
        if ((channelMask & bit) == 0) continue;
        float left = 0.0f, right = 0.0f;
        switch (bit) {
            case kFrontLeft: left = 1.0f; break;
            case kFrontRight: right = 1.0f; break;
            case kFrontLeftOfCentre: left = 1.0f; break;
            case kFrontRightOfCentre: right = 1.0f; break;
            case kFrontCentre:
            case kTopFrontCentre: left = right = kHalfPower; break;
            case kBackCentre:
            case kTopCentre:
            case kTopBackCentre: left = right = 0.5f; break;
            case kBackLeft:
            case kSideLeft:
            case kTopFrontLeft:
            case kTopBackLeft: left = kHalfPower; break;
            case kBackRight:
            case kSideRight:
            case kTopFrontRight:
            case kTopBackRight: right = kHalfPower; break;
            case kLowFrequency:
            default: break;
        }
        gains.left[static_cast<size_t>(channel)] = left;
        gains.right[static_cast<size_t>(channel)] = right;
        ++channel;
    }
    // A mask naming fewer speakers than there are channels (or an unknown
    // layout) leaves the rest unplaced: the first two are still left and right.
    if (channel < 2) {
        gains.left[0] = 1.0f;
        gains.right[0] = 0.0f;
        gains.left[1] = 0.0f;
        gains.right[1] = 1.0f;
    }
    // Every channel at full scale still gives full scale on each side, never
    // more: the gains are scaled down together, so the centre keeps its part.
    float leftSum = 0.0f, rightSum = 0.0f;
    for (size_t i = 0; i < gains.left.size(); ++i) {
        leftSum += gains.left[i];
        rightSum += gains.right[i];
    }
    const float most = std::max(leftSum, rightSum);
    if (most > 1.0f)
        for (size_t i = 0; i < gains.left.size(); ++i) {
            gains.left[i] /= most;
            gains.right[i] /= most;
        }
    return gains;
}

void AppendStereo(const uint8_t* data, uint32_t frames, const StereoGains& gains, SampleKind kind, bool silent,
                  std::vector<float>& out) {
    const int32_t channels = gains.Channels();
    if (channels <= 0) return;
    const int bytes = BytesOf(kind);
    out.reserve(out.size() + size_t{frames} * 2);
    const size_t stride = static_cast<size_t>(channels) * static_cast<size_t>(bytes);
    for (uint32_t f = 0; f < frames; ++f) {
        float left = 0.0f;
        float right = 0.0f;
        if (!silent && bytes != 0) {
            const uint8_t* frame = data + size_t{f} * stride;
            for (int32_t c = 0; c < channels; ++c) {
                const float value = SampleAt(frame + static_cast<size_t>(c) * static_cast<size_t>(bytes), kind);
                left += value * gains.left[static_cast<size_t>(c)];
                right += value * gains.right[static_cast<size_t>(c)];
            }
        }
        out.push_back(left);
        out.push_back(right);
    }
}

void LinearResampler::Reset(int32_t rate) {
    pending.clear();
    resamplePos = 0;
    sampleRate = rate;
}

int64_t LinearResampler::Drain(std::vector<float>& block, int64_t endTime) {
    if (sampleRate == kRate) {
        block.insert(block.end(), pending.begin(), pending.end());
        pending.clear();
        return endTime;
    }
    // A rate of zero would never advance; such input cannot be converted.
    if (sampleRate <= 0) {
        pending.clear();
        return 0;
    }
    const int64_t n = static_cast<int64_t>(pending.size() / 2);
    if (n < 2) return 0;
    const double step = sampleRate / static_cast<double>(kRate);
    double pos = resamplePos;
    while (static_cast<double>(n) > pos + 1) {
        const int64_t i = static_cast<int64_t>(pos);
        const double t = pos - static_cast<double>(i);
        const float* a = pending.data() + i * 2;
        block.push_back(static_cast<float>(a[0] * (1 - t) + a[2] * t));
        block.push_back(static_cast<float>(a[1] * (1 - t) + a[3] * t));
        pos += step;
    }
    const int64_t consumed = std::min(n - 1, static_cast<int64_t>(pos));
    pending.erase(pending.begin(), pending.begin() + consumed * 2);
    resamplePos = pos - static_cast<double>(consumed);
    if (endTime != 0) {
        // The input still pending after the next output frame was not produced yet.
        const double left = static_cast<double>(pending.size() / 2) - resamplePos;
        endTime -= static_cast<int64_t>(left * kTicksPerSecond / sampleRate);
    }
    return endTime;
}

void SyncTone::Start(int64_t nowHundredNs) {
    toneStart = nowHundredNs;
    toneSamples = 0;
    jitterState = 12345;
}

int64_t SyncTone::Read(int64_t nowHundredNs, std::vector<float>& block) {
    jitterState = jitterState * 1103515245u + 12345u;
    const int64_t jitter = jitterState >> 16;
    const double due =
        static_cast<double>(nowHundredNs - jitter - toneStart - 100000) / kTicksPerSecond * kToneRate;
    if (due <= static_cast<double>(toneSamples)) return 0;
    const int64_t available = static_cast<int64_t>(due);
    if (toneSamples >= available) return 0;
    for (int64_t i = toneSamples; i < available; ++i) {
        const double s = (static_cast<double>(i) / kToneRate * kTicksPerSecond + static_cast<double>(toneStart)) /
                         kTicksPerSecond;
        const double r = s - std::floor(s);
        // A burst already under way when the tone starts stays silent: its
        // second, the click a recording is judged by, came before the tone.
        const bool begunHere = std::floor(s) * kTicksPerSecond >= static_cast<double>(toneStart);
        const float value = r < 0.01 && begunHere ? static_cast<float>(0.8 * std::sin(r * 6283.18530717958)) : 0.0f;
        block.push_back(value);
        block.push_back(value);
    }
    toneSamples = available;
    return toneStart + static_cast<int64_t>(static_cast<double>(available) * kTicksPerSecond / kToneRate);
}

void AudioTrack::DropFront(int64_t count) {
    first += count;
    start += count;
    // Compacting only once the dropped part outgrows the kept part keeps the
    // cost per frame constant and the buffer at most about twice the cap.
    if (first >= Count()) {
        frames.erase(frames.begin(), frames.begin() + first * 2);
        first = 0;
    }
}

void AudioTrack::Place(std::vector<float>& block, int64_t endPos) {
    const int64_t n = static_cast<int64_t>(block.size() / 2);
    if (n == 0) return;
    int64_t silence = 0;
    int64_t skip = 0;
    if (!anchored || Count() == 0) {
        frames.clear();
        first = 0;
        start = endPos - n;
        anchored = true;
        offTrack_ = false;
    } else {
        const int64_t end = start + Count();
        const int64_t gap = (endPos - n) - end;
        if (gap >= kTakenAtOnce) {
            silence = gap;
            offTrack_ = false;
        } else if (gap <= -kTakenAtOnce) {
            skip = std::min(n, -gap);
            offTrack_ = false;
        } else if (gap > kDriftTolerance || gap < -kDriftTolerance) {
            // A device's time stamps jitter: Wine's, for one, are taken when
            // its thread reads the packets, later on a busy machine. One late
            // stamp is no gap in the sound, so the block goes on where the
            // last one ended, and only an offset that stays beyond the
            // tolerance for a settling moment is corrected.
            if (!offTrack_ || (offGap_ > 0) != (gap > 0)) {
                offTrack_ = true;
                offFrom_ = end;
                offGap_ = gap;
            } else if (std::abs(gap) < std::abs(offGap_)) {
                offGap_ = gap;
            }
        } else {
            offTrack_ = false;
        }
    }
    // Settle the cap before appending so a long gap never allocates its full
    // length of silence: drop held frames first, then silence, then block.
    int64_t excess = Count() + silence + (n - skip) - kMaxTrackFrames;
    if (excess > 0) {
        const int64_t held = std::min(excess, Count());
        DropFront(held);
        excess -= held;
        const int64_t quiet = std::min(excess, silence);
        silence -= quiet;
        start += quiet;
        excess -= quiet;
        skip += excess;
        start += excess;
    }
    frames.insert(frames.end(), static_cast<size_t>(silence * 2), 0.0f);
    frames.insert(frames.end(), block.begin() + skip * 2, block.begin() + n * 2);
    block.clear();
    if (offTrack_ && start + Count() - offFrom_ >= kSettleFrames) {
        offTrack_ = false;
        Shift(std::max(offFrom_, start), offGap_);
    }
}

void AudioTrack::Shift(int64_t at, int64_t gap) {
    // The sound from `at` on moves by `gap`: silence goes in where the offset
    // began, or what overlaps goes out there. Those frames are still held,
    // since the settling moment is shorter than the lag behind the clock.
    if (gap < 0) {
        const int64_t cut = std::min(-gap, start + Count() - at);
        const auto from = frames.begin() + (first + at - start) * 2;
        frames.erase(from, from + cut * 2);
        return;
    }
    int64_t silence = gap;
    int64_t excess = Count() + silence - kMaxTrackFrames;
    if (excess > 0) {
        const int64_t held = std::min(excess, at - start);
        DropFront(held);
        excess -= held;
    }
    const auto into = frames.begin() + (first + at - start) * 2;
    if (excess > 0) {
        silence -= excess;
        start += excess;
    }
    frames.insert(into, static_cast<size_t>(silence * 2), 0.0f);
}

float AudioTrack::Left(int64_t pos) const {
    if (!anchored || pos < start || pos >= start + Count()) return 0.0f;
    return frames[static_cast<size_t>((first + pos - start) * 2)];
}

float AudioTrack::Right(int64_t pos) const {
    if (!anchored || pos < start || pos >= start + Count()) return 0.0f;
    return frames[static_cast<size_t>((first + pos - start) * 2 + 1)];
}

void AudioTrack::TrimBefore(int64_t target) {
    if (anchored && start < target) DropFront(std::min(Count(), target - start));
}

void AudioTrack::DropFrom(int64_t pos) {
    if (!anchored || pos >= start + Count()) return;
    offTrack_ = false;
    frames.resize(static_cast<size_t>((first + std::max<int64_t>(0, pos - start)) * 2));
}

void MixToPcm16(const AudioTrack& a, const AudioTrack& b, int64_t from, int64_t count, int16_t* out) {
    for (int64_t i = 0; i < count; ++i) {
        const int64_t p = from + i;
        out[i * 2] = ToPcm16(a.Left(p) + b.Left(p));
        out[i * 2 + 1] = ToPcm16(a.Right(p) + b.Right(p));
    }
}

int64_t PositionOfTime(int64_t timeHundredNs, int64_t startHundredNs, int64_t pausedHundredNs) {
    return (timeHundredNs - pausedHundredNs - startHundredNs) * kRate / kTicksPerSecond;
}

int64_t SampleTime(int64_t position) { return position * kTicksPerSecond / kRate; }

void SourceWatch::DeviceLost(int64_t nowMs) {
    open_ = false;
    nextAttempt_ = nowMs;
    settledAt_ = nowMs + kSettleMs;
}

bool SourceWatch::CheckDue(int64_t nowMs) {
    if (nowMs < nextCheck_) return false;
    nextCheck_ = nowMs + kCheckMs;
    return true;
}

SourceWatch::Notice SourceWatch::Opened() {
    const bool first = !tried_;
    tried_ = true;
    open_ = true;
    missingTold_ = false;
    return first ? Notice::None : Notice::Changed;
}

SourceWatch::Notice SourceWatch::OpenFailed(int64_t nowMs) {
    tried_ = true;
    open_ = false;
    if (nowMs < settledAt_) {
        nextAttempt_ = std::min(nowMs + kSettleRetryMs, settledAt_);
        return Notice::None;
    }
    nextAttempt_ = nowMs + kRetryMs;
    if (missingTold_) return Notice::None;
    missingTold_ = true;
    return Notice::Missing;
}
