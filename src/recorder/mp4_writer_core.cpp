#include "recorder/mp4_writer_core.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

#include "recorder/h264_pcm_core.h"
#include "recorder/mp4_boxes_core.h"

namespace {

using namespace mp4;

constexpr uint64_t kAudioFlushFrames = kAudioRate / 2;  // sound alone is written once this much waits
constexpr uint64_t kAudioSnapFrames = kAudioRate / 50;  // 20 ms: closer than this counts as contiguous
constexpr size_t kMaxAudioBlock = size_t{1} << 24;
constexpr uint32_t kSyncSampleFlags = 0x02000000;  // depends on no other sample, not a non-sync sample

uint64_t To48k(uint64_t t) {
    // 48000 / 10^7 = 3 / 625, split to stay exact without overflow.
    return t / 625 * 3 + (t % 625 * 3 + 312) / 625;
}

}  // namespace

FragmentedMp4Writer::FragmentedMp4Writer(const Mp4Config& config, Sink sink)
    : config_(config), sink_(std::move(sink)) {
    const Mp4Config& c = config_;
    configOk_ = c.width >= 2 && c.height >= 2 && c.width <= 16384 && c.height <= 16384 && c.width % 2 == 0 &&
                c.height % 2 == 0 && c.fps >= 1 && c.fps <= 1000 && c.audioFramesPerSample >= 1 &&
                c.audioFramesPerSample <= 48000 && static_cast<bool>(sink_);
    if (!configOk_) return;
    mbWidth_ = (c.width + 15) / 16;
    mbHeight_ = (c.height + 15) / 16;
    frameBytes_ = size_t{c.width} * c.height * 3 / 2;
    defaultDuration_ = kVideoTimescale / c.fps;
}

bool FragmentedMp4Writer::Write(const uint8_t* data, size_t size) {
    if (size == 0) return true;
    bool ok = false;
    try {
        ok = sink_(data, size);
    } catch (...) {
        ok = false;
    }
    if (!ok) state_ = State::Failed;
    return ok;
}

bool FragmentedMp4Writer::Begin() {
    if (state_ != State::Idle || !configOk_) return false;
    try {
        const std::vector<uint8_t> out = InitSegment(config_, SequenceParameterSet(config_), PictureParameterSet());
        // Sized once for a whole picture, with slack.
        frame_.resize(IdrPcmBytes(config_.width, config_.height));
        header_.reserve(64);
        moof_.reserve(1024);
        spots_.reserve(16);
        if (config_.audio) audioPending_.reserve((kAudioFlushFrames + 4800) * 4);
        state_ = State::Open;
        return Write(out.data(), out.size());
    } catch (...) {
        state_ = State::Failed;
        return false;
    }
}

size_t FragmentedMp4Writer::EncodePicture(const uint8_t* nv12) {
    return EncodeIdrPcm(nv12, config_.width, config_.height, idrId_, frame_, header_, spots_);
}

bool FragmentedMp4Writer::WriteFragment(size_t videoBytes, int64_t videoTime, uint32_t videoDuration) {
    const size_t audioBytes = static_cast<size_t>(pendingFrames_) * 4;
    moof_.clear();
    Boxes b(moof_);
    const size_t moof = b.Open("moof");
    const size_t mfhd = b.OpenFull("mfhd", 0, 0);
    b.U32(++sequence_);
    b.Close(mfhd);

    size_t videoOffsetAt = 0;
    size_t audioOffsetAt = 0;
    if (videoBytes != 0) {
        const size_t traf = b.Open("traf");
        const size_t tfhd = b.OpenFull("tfhd", 0, 0x020000);  // offsets count from the moof
        b.U32(kVideoTrackId);
        b.Close(tfhd);
        const size_t tfdt = b.OpenFull("tfdt", 1, 0);
        b.U64(static_cast<uint64_t>(videoTime));
        b.Close(tfdt);
        const size_t trun = b.OpenFull("trun", 0, 0x000701);  // data offset; duration, size, flags
        b.U32(1);
        videoOffsetAt = b.Size();
        b.U32(0);
        b.U32(videoDuration);
        b.U32(static_cast<uint32_t>(videoBytes));
        b.U32(kSyncSampleFlags);
        b.Close(trun);
        b.Close(traf);
    }
    if (audioBytes != 0) {
        const size_t traf = b.Open("traf");
        const uint32_t group = config_.audioFramesPerSample;
        const size_t tfhd = b.OpenFull("tfhd", 0, 0x020000 | 0x08 | 0x10 | 0x20);  // + default duration/size/flags
        b.U32(kAudioTrackId);
        b.U32(group);      // one 48 kHz tick per frame
        b.U32(group * 4);  // 4 bytes per stereo frame
        b.U32(kSyncSampleFlags);
        b.Close(tfhd);
        const size_t tfdt = b.OpenFull("tfdt", 1, 0);
        b.U64(pendingStart_);
        b.Close(tfdt);
        // A shorter last sample needs every sample's duration and size listed.
        const uint64_t rest = pendingFrames_ % group;
        const size_t trun = b.OpenFull("trun", 0, rest != 0 ? 0x000301 : 0x000001);
        const uint64_t samples = (pendingFrames_ + group - 1) / group;
        b.U32(static_cast<uint32_t>(samples));
        audioOffsetAt = b.Size();
        b.U32(0);
        for (uint64_t i = 0; rest != 0 && i < samples; ++i) {
            const uint32_t frames = i + 1 < samples ? group : static_cast<uint32_t>(rest);
            b.U32(frames);
            b.U32(frames * 4);
        }
        b.Close(trun);
        b.Close(traf);
    }
    b.Close(moof);

    const uint64_t payload = uint64_t{videoBytes} + audioBytes;
    const bool large = payload + 8 > std::numeric_limits<uint32_t>::max();
    const size_t mdatHeader = large ? 16 : 8;
    const size_t moofSize = b.Size();
    if (videoOffsetAt != 0) b.Patch32(videoOffsetAt, static_cast<uint32_t>(moofSize + mdatHeader));
    if (audioOffsetAt != 0) b.Patch32(audioOffsetAt, static_cast<uint32_t>(moofSize + mdatHeader + videoBytes));
    if (large) {
        b.U32(1);
        b.Type("mdat");
        b.U64(payload + 16);
    } else {
        b.U32(static_cast<uint32_t>(payload + 8));
        b.Type("mdat");
    }

    const bool ok = Write(moof_.data(), moof_.size()) && Write(frame_.data(), videoBytes) &&
                    Write(audioPending_.data(), audioBytes);
    if (audioBytes != 0) {
        audioEnd_ = pendingStart_ + pendingFrames_;
        haveAudioEnd_ = true;
        audioPending_.clear();
        pendingFrames_ = 0;
    }
    return ok;
}

bool FragmentedMp4Writer::FlushAudio() {
    if (pendingFrames_ == 0) return true;
    return WriteFragment(0, 0, 0);
}

bool FragmentedMp4Writer::AddVideoFrame(const uint8_t* nv12, size_t size, int64_t time, int64_t duration) {
    if (state_ != State::Open || nv12 == nullptr || size != frameBytes_ || time < 0) return false;
    if (haveVideo_ && time < lastVideoTime_) return false;
    try {
        const size_t bytes = EncodePicture(nv12);
        const int64_t d = duration > 0 ? duration : defaultDuration_;
        const uint32_t sampleDuration = static_cast<uint32_t>(std::min<int64_t>(d, std::numeric_limits<uint32_t>::max()));
        haveVideo_ = true;
        lastVideoTime_ = time;
        return WriteFragment(bytes, time, sampleDuration);
    } catch (...) {
        state_ = State::Failed;
        return false;
    }
}

bool FragmentedMp4Writer::AddAudio(const int16_t* frames, size_t frameCount, int64_t time) {
    if (state_ != State::Open || !config_.audio || frameCount > kMaxAudioBlock) return false;
    if (frameCount == 0) return true;
    if (frames == nullptr) return false;
    if (time < 0) {
        // Sound from before the recording's start: keep only what follows it.
        const uint64_t early = To48k(uint64_t{0} - static_cast<uint64_t>(time));
        if (early >= frameCount) return true;
        frames += early * 2;
        frameCount -= static_cast<size_t>(early);
        time = 0;
    }
    try {
        const uint64_t start = To48k(static_cast<uint64_t>(time));
        // Sound that resumes clearly later (a device gap) starts a fragment of its own at its time.
        if (pendingFrames_ != 0 && start > pendingStart_ + pendingFrames_ + kAudioSnapFrames && !FlushAudio())
            return false;
        if (pendingFrames_ == 0) {
            // Small jitter or an overlap continues where the sound ended, so it never goes back.
            pendingStart_ = haveAudioEnd_ && start <= audioEnd_ + kAudioSnapFrames ? audioEnd_ : start;
        }
        const size_t at = audioPending_.size();
        audioPending_.resize(at + frameCount * 4);
        uint8_t* out = audioPending_.data() + at;
        for (size_t i = 0; i < frameCount * 2; ++i) {
            const uint16_t v = static_cast<uint16_t>(frames[i]);
            out[2 * i] = static_cast<uint8_t>(v);
            out[2 * i + 1] = static_cast<uint8_t>(v >> 8);
        }
        pendingFrames_ += frameCount;
        if (pendingFrames_ > kAudioFlushFrames) return FlushAudio();
        return true;
    } catch (...) {
        state_ = State::Failed;
        return false;
    }
}

bool FragmentedMp4Writer::Finish() {
    if (state_ != State::Open) return false;
    const bool ok = FlushAudio();
    if (ok) state_ = State::Done;
    return ok;
}
