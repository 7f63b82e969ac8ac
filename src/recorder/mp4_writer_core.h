#pragma once
// A fragmented MP4 writer: lossless H.264 pictures (every macroblock I_PCM, so
// no encoder is needed) and 16-bit stereo PCM sound. Each picture becomes its own
// moof + mdat fragment written straight to the sink, so a recording cut short
// (crash, power loss) keeps every complete fragment playable.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "recorder/h264_pcm_core.h"

struct Mp4Config {
    uint32_t width = 0;   // even, 2..16384
    uint32_t height = 0;  // even, 2..16384
    uint32_t fps = 30;    // nominal rate, 1..1000; used for levels and timing hints
    bool audio = false;   // adds a 48 kHz stereo 16-bit sound track
    // Sound frames per MP4 sample, 1..48000. 1 (one 4-byte sample per frame) is the
    // plain layout, but ffmpeg-based players then index every frame: about 1 GB of
    // memory per 10 minutes. 1024 keeps the index small.
    uint32_t audioFramesPerSample = 1;
};

namespace mp4 {

constexpr uint32_t kVideoTimescale = 10'000'000;  // 100-ns units: recording times are exact
constexpr uint32_t kAudioRate = 48'000;
constexpr uint32_t kVideoTrackId = 1;
constexpr uint32_t kAudioTrackId = 2;

}  // namespace mp4

class FragmentedMp4Writer {
public:
    // Appends bytes to the file; false = the write failed.
    using Sink = std::function<bool(const uint8_t* data, size_t size)>;

    FragmentedMp4Writer(const Mp4Config& config, Sink sink);

    // ftyp + moov (with mvex/trex). False for a bad configuration or a failed write.
    bool Begin();
    // One tightly packed NV12 picture (width*height*3/2 bytes). time/duration in
    // 100-ns units; time may jump ahead (a gap) but never go back. A wrong size, a
    // negative time or one earlier than the last picture's is refused (false) and
    // the writer goes on; duration <= 0 means 1/fps.
    bool AddVideoFrame(const uint8_t* nv12, size_t size, int64_t time, int64_t duration);
    // Interleaved stereo 16-bit frames (L,R) at 48 kHz starting at `time` (100 ns).
    // Blocks follow each other without gaps unless `time` is more than 20 ms past
    // the end of the sound so far; sound before time 0 is dropped.
    bool AddAudio(const int16_t* frames, size_t frameCount, int64_t time);
    // Writes pending sound; the file is complete afterwards and nothing more is accepted.
    // Any failed write makes this and every later call return false.
    bool Finish();

    bool Failed() const { return state_ == State::Failed; }

private:
    enum class State { Idle, Open, Done, Failed };

    size_t EncodePicture(const uint8_t* nv12);  // fills frame_, returns its used length
    bool WriteFragment(size_t videoBytes, int64_t videoTime, uint32_t videoDuration);
    bool FlushAudio();
    bool Write(const uint8_t* data, size_t size);

    Mp4Config config_;
    Sink sink_;
    State state_ = State::Idle;
    bool configOk_ = false;
    uint32_t mbWidth_ = 0;
    uint32_t mbHeight_ = 0;
    size_t frameBytes_ = 0;
    uint32_t defaultDuration_ = 0;

    uint32_t sequence_ = 0;
    bool haveVideo_ = false;
    int64_t lastVideoTime_ = 0;
    uint32_t idrId_ = 0;

    // Sound waiting for the next fragment, as little-endian bytes.
    std::vector<uint8_t> audioPending_;
    uint64_t pendingFrames_ = 0;
    uint64_t pendingStart_ = 0;  // in 48 kHz units
    bool haveAudioEnd_ = false;
    uint64_t audioEnd_ = 0;  // where the written sound ends, in 48 kHz units

    // Reused for every picture so recording does not allocate per frame.
    std::vector<uint8_t> frame_;   // 4-byte length + IDR slice NAL unit
    std::vector<uint8_t> header_;  // slice header bits
    std::vector<uint8_t> moof_;    // moof + mdat header
    std::vector<size_t> spots_;
};
