// The sound thread: opens the computer's sound and the microphone and runs
// the sound turns of the core every 10 ms until the stop, with the recording's
// clock and writer behind them.
#include <windows.h>

#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "audio/audio_source.h"
#include "common/com_apartment.h"
#include "recorder/recorder.h"
#include "recorder/sound_mix_core.h"
#include "storage/folders.h"
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

constexpr wchar_t kComputerSoundChanged[] =
    L"The sound device changed. Recording continues with the computer's sound from the device now in use.";
constexpr wchar_t kMicrophoneChanged[] = L"The microphone changed. Recording continues with the microphone now in use.";

int64_t NowMs() { return static_cast<int64_t>(GetTickCount64()); }

// One of the recording's sound sources, kept open for the whole recording:
// a device that goes away is opened again (the computer's sound on the new
// default device, a microphone on the chosen one, else the default). Each
// follows where it belongs: the computer's sound a new default device, a
// microphone a new default one, and the chosen one when it comes back.
// While there is none, its track stays silent; the time line goes on regardless.
class KeptSource : public SoundSource {
public:
    KeptSource(Recorder& recorder, bool computer, std::wstring microphoneId)
        : recorder_(recorder), computer_(computer), microphoneId_(std::move(microphoneId)) {}

    void StartTone() {
        source_.StartSyncTone();
        tone_ = true;
    }

    // Between turns: notices a lost device or a new default one, and opens
    // the source when that is due (the first time at the start).
    void Watch(bool defaultChanged) {
        if (tone_) return;
        const int64_t now = NowMs();
        const bool check = watch_.CheckDue(now);
        if (watch_.IsOpen()) {
            if (check) source_.CheckPresent();
            if (FAILED(source_.Lost())) {
                Log(L"%s device lost: %s", Name(), ErrorText(static_cast<uint32_t>(source_.Lost())).c_str());
                source_.Close();
                watch_.DeviceLost(now);
            } else if (check || defaultChanged) {
                const std::wstring current = computer_ ? ComputerSoundEndpointId() : MicrophoneEndpointId(microphoneId_);
                if (!current.empty() && current != source_.EndpointId()) {
                    if (computer_ || current != microphoneId_)
                        Log(L"%s device changed: another device is now the default", Name());
                    else
                        Log(L"%s device changed: the chosen one is back", Name());
                    source_.Close();
                    watch_.DeviceLost(now);
                }
            }
        }
        if (watch_.OpenDue(now)) Open(now);
    }

    void Read(std::vector<float>& block, int64_t& endTime) override {
        endTime = 0;
        if (tone_ || watch_.IsOpen()) source_.Read(block, endTime);
    }
    bool HasDevice() const override { return tone_ || watch_.IsOpen(); }

private:
    const wchar_t* Name() const { return computer_ ? L"Computer sound" : L"Microphone"; }

    void Open(int64_t now) {
        std::wstring problem;
        if (source_.Open(computer_, microphoneId_, problem)) {
            if (watch_.Opened() == SourceWatch::Notice::Changed) {
                Log(L"%s reopened", Name());
                recorder_.Notify(NotifyDeviceProblem, computer_ ? kComputerSoundChanged : kMicrophoneChanged);
            }
            return;
        }
        if (watch_.OpenFailed(now) == SourceWatch::Notice::Missing) {
            Log(L"%s", problem.c_str());
            recorder_.Notify(NotifyDeviceProblem, problem + (computer_ ? L" Recording continues with silence in its place."
                                                                       : L" Recording continues without it."));
        }
    }

    Recorder& recorder_;
    const bool computer_;
    const std::wstring microphoneId_;
    AudioSource source_;
    SourceWatch watch_;
    bool tone_ = false;
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

    KeptSource computer(recorder, true, {}), microphone(recorder, false, options.microphoneId);
    const bool computerUsed = options.syncTest || options.systemAudio;
    const bool microphoneUsed = options.microphone && !options.syncTest;
    if (options.syncTest) computer.StartTone();
    std::unique_ptr<DefaultDeviceWatch> defaults;
    if ((options.systemAudio || options.microphone) && !options.syncTest) defaults = std::make_unique<DefaultDeviceWatch>();
    const auto watch = [&] {
        const bool changed = defaults && defaults->TakeChange();
        if (computerUsed) computer.Watch(changed);
        if (microphoneUsed) microphone.Watch(changed);
    };
    watch();

    RecorderClock clock(recorder);
    RecorderSink sink(recorder);
    SoundTurns turns(clock, computerUsed ? &computer : nullptr, microphoneUsed ? &microphone : nullptr, sink,
                     options.syncTest,
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
            if (!stopping) watch();
            goOn = turns.Turn(stopping);
        } catch (const std::bad_alloc&) {
        }
        if (!goOn || stopping) break;
    }
}
