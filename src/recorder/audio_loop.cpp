// The sound thread: opens the computer's sound and the microphone and runs
// the sound turns of the core every 10 ms until the stop, with the recording's
// clock and writer behind them.
#include <windows.h>

#include <new>
#include <vector>

#include "audio/audio_source.h"
#include "common/com_apartment.h"
#include "recorder/recorder.h"
#include "recorder/sound_mix_core.h"
#include "storage/log.h"

namespace {

class RecorderClock : public SoundClock {
public:
    explicit RecorderClock(const Recorder& recorder) : recorder_(recorder) {}
    int64_t Counter() override {
        LARGE_INTEGER value{};
        QueryPerformanceCounter(&value);
        return value.QuadPart;
    }
    int64_t Frequency() override { return recorder_.qpcFrequency; }
    int64_t StartCounter() override { return recorder_.startCounter; }
    ClockSnapshot PauseState() override { return recorder_.PauseState(); }

private:
    const Recorder& recorder_;
};

class DeviceSource : public SoundSource {
public:
    explicit DeviceSource(AudioSource& source) : source_(source) {}
    void Read(std::vector<float>& block, int64_t& endTime) override { source_.Read(block, endTime); }

private:
    AudioSource& source_;
};

class RecorderSink : public SoundSink {
public:
    explicit RecorderSink(Recorder& recorder) : recorder_(recorder) {}
    SoundWrite Write(const int16_t* frames, size_t count, int64_t time, int64_t duration) override {
        return recorder_.WriteAudio(frames, count, time, duration);
    }

private:
    Recorder& recorder_;
};

}  // namespace

void AudioLoop(Recorder& recorder) {
    ComApartment apartment;
    const RecordingOptions& options = recorder.options;

    AudioSource computer, microphone;
    bool computerOpen = false, microphoneOpen = false;
    std::wstring problem;
    if (options.syncTest) {
        computer.StartSyncTone();
        computerOpen = true;
    } else if (options.systemAudio) {
        computerOpen = computer.Open(true, {}, problem);
        if (!computerOpen) {
            Log(L"%s", problem.c_str());
            recorder.Notify(NotifyDeviceProblem, problem + L" Recording continues with silence in its place.");
        }
    }
    if (options.microphone && !options.syncTest) {
        problem.clear();
        microphoneOpen = microphone.Open(false, options.microphoneId, problem);
        if (!microphoneOpen) {
            Log(L"%s", problem.c_str());
            recorder.Notify(NotifyDeviceProblem, problem + L" Recording continues without it.");
        }
    }

    RecorderClock clock(recorder);
    DeviceSource computerSource(computer), microphoneSource(microphone);
    RecorderSink sink(recorder);
    SoundTurns turns(clock, computerOpen ? &computerSource : nullptr, microphoneOpen ? &microphoneSource : nullptr,
                     sink, options.syncTest,
                     [](int64_t atMicroseconds) {
                         Log(L"sync click at_us=%lld", static_cast<long long>(atMicroseconds));
                     });
    for (;;) {
        const bool stopping = recorder.stopRequested.load();
        if (!stopping) Sleep(10);
        bool goOn = true;
        // An exception that left this thread would end the whole program:
        // a turn whose memory ran out is skipped, and the next one catches up.
        try {
            goOn = turns.Turn(stopping);
        } catch (const std::bad_alloc&) {
        }
        if (!goOn || stopping) break;
    }
    computer.Close();
    microphone.Close();
}
