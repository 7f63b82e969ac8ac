// The sound thread: reads the computer's sound and the microphone, places
// their frames on the recording's time line by the capture times the devices
// report, mixes them and writes 16-bit blocks 150 ms behind the clock.
// Missing sound becomes silence; sound of a pause is thrown away.
#include <windows.h>

#include <vector>

#include "audio/audio_source.h"
#include "common/com_apartment.h"
#include "recorder/recorder.h"
#include "recorder/recording_rules_core.h"
#include "storage/log.h"

namespace {

constexpr int64_t kLagFrames = 7200;     // 150 ms at 48 kHz
constexpr int64_t kMinimumBlock = 480;  // 10 ms


}  // namespace

void AudioLoop(Recorder& recorder) {
    ComApartment apartment;
    const RecordingOptions& options = recorder.options;
    const int64_t startHundredNs = TicksToHundredNs(recorder.startCounter, recorder.qpcFrequency);
    auto pausedHundredNs = [&] { return TicksToHundredNs(recorder.pausedTicks.load(), recorder.qpcFrequency); };
    auto clockPosition = [&] { return recorder.RecordingTime() * 48000 / 10000000; };

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

    AudioTrack computerTrack, microphoneTrack;
    std::vector<float> block;
    std::vector<int16_t> pcm;
    int64_t written = 0;
    int64_t finalPos = 0;
    int64_t syncLast = 0;

    for (;;) {
        const bool stopping = recorder.stopRequested.load();
        if (stopping)
            finalPos = clockPosition();
        else
            Sleep(10);
        // The write target comes from the clock as it stood before the sources
        // were read: a stall between the reads and the mix (a busy machine)
        // must not push the target past sound that has not been read yet, or
        // that stretch would be written as silence and its sound dropped.
        const int64_t clockBeforeRead = stopping ? finalPos : clockPosition();

        int64_t endTime = 0;
        if (computerOpen) {
            computer.Read(block, endTime);
            if (options.syncTest && endTime != 0) {
                if (syncLast == 0) syncLast = endTime - static_cast<int64_t>(block.size() / 2) * 10000000 / 48000;
                // Every whole counter second that this block reaches carries a burst.
                for (int64_t second = (syncLast + 9999999) / 10000000 * 10000000; second < endTime; second += 10000000) {
                    if (recorder.state.load() == Recording)
                        Log(L"sync click at_us=%lld",
                            static_cast<long long>((second - pausedHundredNs() - startHundredNs) / 10));
                }
                syncLast = endTime;
            }
            computerTrack.Place(block, endTime != 0 ? PositionOfTime(endTime, startHundredNs, pausedHundredNs())
                                                    : clockPosition());
        }
        if (microphoneOpen) {
            microphone.Read(block, endTime);
            microphoneTrack.Place(block, endTime != 0 ? PositionOfTime(endTime, startHundredNs, pausedHundredNs())
                                                      : clockPosition());
        }

        // While paused the clock stands at the pause point. Sound captured
        // before it is still written, once this turn's reads started after the
        // pause began (so all of it is placed); what came after it is dropped.
        const bool paused = recorder.state.load() == Paused;
        if (paused && !stopping && clockBeforeRead != clockPosition()) continue;
        const int64_t target = stopping ? finalPos : paused ? clockBeforeRead : clockBeforeRead - kLagFrames;
        const int64_t count = target - written;
        if (count >= kMinimumBlock || ((stopping || paused) && count >= 1)) {
            pcm.resize(static_cast<size_t>(count) * 2);
            MixToPcm16(computerTrack, microphoneTrack, written, count, pcm.data());
            computerTrack.TrimBefore(target);
            microphoneTrack.TrimBefore(target);
            if (!recorder.WriteAudio(pcm.data(), static_cast<size_t>(count), SampleTime(written), SampleTime(count)))
                break;
            written = target;
        }
        if (paused) {
            computerTrack.Clear();
            microphoneTrack.Clear();
        }
        if (stopping) break;
    }
    computer.Close();
    microphone.Close();
}
