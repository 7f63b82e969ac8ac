#pragma once
// The turns of a recording's sound thread: read the sources, place what they
// captured on the recording's time line by the capture times they report, mix
// the two tracks and write what is due, 150 ms behind the clock. Missing sound
// becomes silence; the sound of a pause is thrown away. The clock, the sources
// and the writer are interfaces, so every decision of a turn runs the same
// with fakes of them.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "audio/audio_core.h"
#include "recorder/recording_rules_core.h"

// The recording clock as the sound thread sees it; counter values are ticks.
class SoundClock {
public:
    virtual ~SoundClock() = default;
    virtual int64_t Counter() = 0;
    virtual int64_t Frequency() = 0;
    virtual int64_t StartCounter() = 0;
    virtual ClockSnapshot PauseState() = 0;
};

class SoundSource {
public:
    virtual ~SoundSource() = default;
    // Appends the stereo 48 kHz frames that are ready; `endTime` is the
    // counter time (100-ns units) just past them, or 0 when unknown.
    virtual void Read(std::vector<float>& block, int64_t& endTime) = 0;
    // False while the source has no device to read (it went away and has
    // not come back yet): nothing it captured is waited for.
    virtual bool HasDevice() const { return true; }
};

// What became of a block handed to the writer.
enum class SoundWrite {
    Written,
    Retry,   // nothing was written (no memory for it); the same sound may come again
    Failed,  // the writer stopped working; nothing more will be taken
};

class SoundSink {
public:
    virtual ~SoundSink() = default;
    // Interleaved 16-bit stereo frames at `time` (100-ns units of recording time).
    virtual SoundWrite Write(const int16_t* frames, size_t count, int64_t time, int64_t duration) = 0;
};

class SoundTurns {
public:
    // A source that did not open is null; its track stays silent. `syncClick`
    // gets the recording time (microseconds) of every sync tone burst.
    SoundTurns(SoundClock& clock, SoundSource* computer, SoundSource* microphone, SoundSink& sink, bool syncTest,
               std::function<void(int64_t atMicroseconds)> syncClick);
    // One turn. When `stopping`, the last block runs to the clock's position.
    // False when the loop must end: the writer failed, or could not take the
    // last block.
    bool Turn(bool stopping);

private:
    void LogSyncClicks(int64_t endTime, int64_t startHundredNs, int64_t pausedHundredNs, int64_t lastPosition);

    SoundClock& clock_;
    SoundSource* computer_;
    SoundSource* microphone_;
    SoundSink& sink_;
    bool syncTest_;
    std::function<void(int64_t)> syncClick_;

    AudioTrack computerTrack_;
    AudioTrack microphoneTrack_;
    std::vector<float> block_;
    std::vector<int16_t> pcm_;
    int64_t written_ = 0;   // position of the next frame to write
    int64_t syncLast_ = 0;  // counter time just past the previous tone block
};
