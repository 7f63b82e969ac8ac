#pragma once
// Audio for recordings: device samples turned into 48 kHz float stereo,
// placed on a shared sample timeline and mixed to 16-bit PCM. Times are in
// 100-ns units; positions count 48 kHz frames.
#include <cstdint>
#include <vector>

enum class SampleKind { Float32, Int16, Int24, Int32, Unsupported };

SampleKind KindOf(bool isFloat, int32_t bitsPerSample);

// How much of each channel of a device's frames goes into the left and the
// right of the recording's stereo.
struct StereoGains {
    std::vector<float> left, right;  // one per channel
    int32_t Channels() const { return static_cast<int32_t>(left.size()); }
};

// The gains for `channels` channels laid out as the speaker bits of
// `channelMask` (WAVEFORMATEXTENSIBLE's dwChannelMask; 0 when the device
// gives none, which means the usual order for that many channels). Mono
// goes to both sides and stereo stays as it is; surround is folded down with
// the usual coefficients: centre and side or back channels at -3 dB into
// their side (the centre into both), the low-frequency channel left out, so
// dialogue in the centre channel is kept; then all scaled down together so
// that every channel at full scale gives at most full scale on each side.
StereoGains DownmixGains(int32_t channels, uint32_t channelMask);

// Appends `frames` frames of interleaved little-endian samples of
// `gains.Channels()` channels as float stereo. Silent packets and unsupported
// layouts give zeros.
void AppendStereo(const uint8_t* data, uint32_t frames, const StereoGains& gains, SampleKind kind, bool silent,
                  std::vector<float>& out);

// Linear conversion of interleaved stereo at `sampleRate` to 48 kHz. Callers
// append input to `pending`; Drain keeps only what it could not use yet.
class LinearResampler {
public:
    void Reset(int32_t rate);
    // Appends the converted frames to `block`. `endTime` is the time just past
    // the pending input; the result is the time just past the last frame
    // produced (0 when nothing was produced or endTime was 0).
    int64_t Drain(std::vector<float>& block, int64_t endTime);

    std::vector<float> pending;
    double resamplePos = 0;  // input frame of the next output frame, within `pending`
    int32_t sampleRate = 48000;
};

// A synthetic source whose 10 ms bursts start at every whole second of the
// clock, delivered late by a pseudo-random amount like a real device, so a
// recording of it shows whether audio and clock agree.
class SyncTone {
public:
    void Start(int64_t nowHundredNs);
    // Appends the stereo frames due by `nowHundredNs`; returns the time just
    // past them, or 0 when none are due.
    int64_t Read(int64_t nowHundredNs, std::vector<float>& block);

    int64_t toneStart = 0;
    int64_t toneSamples = 0;
    uint32_t jitterState = 12345;
};

// At most ten seconds of sound wait in a track: enough to ride out a loop
// that a busy machine stalls for seconds without dropping sound that was
// already captured, and still a bounded 3.8 MB whatever a device reports.
constexpr int64_t kMaxTrackFrames = 480000;

// One source's stereo frames on the 48 kHz timeline, holding at most the
// newest kMaxTrackFrames. Blocks are placed by the position just past their end;
// small clock drift is absorbed, and an offset beyond 5 ms that lasts is
// corrected where it began, by inserting silence or cutting overlap.
struct AudioTrack {
    // Frames before `first` are already dropped; they are removed in bulk so
    // dropping from the front stays cheap.
    std::vector<float> frames;
    int64_t first = 0;
    int64_t start = 0;  // position of frame `first`
    bool anchored = false;

    int64_t Count() const { return static_cast<int64_t>(frames.size() / 2) - first; }
    // Takes the block's frames (and empties it).
    void Place(std::vector<float>& block, int64_t endPos);
    float Left(int64_t pos) const;
    float Right(int64_t pos) const;
    void TrimBefore(int64_t target);
    // Forgets the frames at `pos` and after.
    void DropFrom(int64_t pos);

private:
    void DropFront(int64_t count);
    void Shift(int64_t at, int64_t gap);

    // An offset from the held frames' end seen since `offFrom_`, the smallest
    // of it kept, while it is not yet known to last.
    bool offTrack_ = false;
    int64_t offFrom_ = 0;
    int64_t offGap_ = 0;
};

// Sums the two tracks over [from, from + count), clipped to full scale, as
// interleaved 16-bit stereo (2 * count values).
void MixToPcm16(const AudioTrack& a, const AudioTrack& b, int64_t from, int64_t count, int16_t* out);

// Timeline position of a clock time in a recording that began at `start` and
// has been paused for `paused` in total.
int64_t PositionOfTime(int64_t timeHundredNs, int64_t startHundredNs, int64_t pausedHundredNs);
// Time of a position from the recording's start.
int64_t SampleTime(int64_t position);

// What a recording's sound thread does about a source whose device goes away
// (unplugged, disabled, a headset that drops) or stops being the default, or
// that could not be opened at all: it opens the source again at once, and
// while that fails, again every second. After a loss Windows takes a moment
// to make another device the default: the attempts of that moment come
// faster and are not told, so the user hears once of what came of it.
// Times are milliseconds of a steady clock.
class SourceWatch {
public:
    static constexpr int64_t kCheckMs = 500;   // a lost or new default device is noticed within a second
    static constexpr int64_t kRetryMs = 1000;  // a device that comes back is recording again within two
    static constexpr int64_t kSettleMs = 1500;      // after a loss, before "no device" is told
    static constexpr int64_t kSettleRetryMs = 250;  // attempts meanwhile

    enum class Notice {
        None,
        Changed,  // open again after a change or a loss
        Missing,  // no device could be opened; recording goes on without this source
    };

    // The device is gone, or another one is now the default for this source.
    void DeviceLost(int64_t nowMs);
    // True when the open device should be looked at now.
    bool CheckDue(int64_t nowMs);
    // True when an attempt to open the source is due.
    bool OpenDue(int64_t nowMs) const { return !open_ && nowMs >= nextAttempt_; }
    // The outcome of an attempt, the first at the start included, and what
    // the user is told of it.
    Notice Opened();
    Notice OpenFailed(int64_t nowMs);
    bool IsOpen() const { return open_; }

private:
    bool open_ = false;
    bool tried_ = false;        // the start's attempt was made
    bool missingTold_ = false;  // the user knows no device could be opened
    int64_t nextAttempt_ = 0;
    int64_t nextCheck_ = 0;
    int64_t settledAt_ = 0;  // the end of the quiet moment after the latest loss
};
