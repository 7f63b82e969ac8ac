// The video thread: one picture per tick of the recording clock, the last one
// repeated on a still screen, slots dropped rather than written late when the
// thread falls behind, and a watch on the free space.
#include <windows.h>

#include <cstring>
#include <vector>

#include "common/com_apartment.h"
#include "recorder/recorder.h"
#include "recorder/recording_rules_core.h"
#include "storage/folders.h"
#include "storage/log.h"

namespace {

constexpr DWORD kSpaceCheckMs = 5000;


}  // namespace

void VideoLoop(Recorder& recorder) {
    ComApartment apartment;
    const int32_t fps = recorder.options.fps;
    const int32_t width = recorder.width;
    const int32_t height = recorder.height;
    const int64_t interval = FrameInterval(fps);
    const size_t frameSize = static_cast<size_t>(width) * static_cast<size_t>(height) * 3 / 2;
    // One buffer for every frame: nothing grows per frame.
    std::vector<uint8_t> picture(frameSize);
    std::unique_ptr<PictureConverter> converter = MakePictureConverter();
    Microsoft::WRL::ComPtr<ID3D11Texture2D> source;
    int32_t sourceWidth = 0, sourceHeight = 0;
    int32_t builtWidth = 0, builtHeight = 0;
    bool built = false;
    int64_t nextTime = 0;
    int64_t written = 0;
    int64_t skipped = 0;
    DWORD lastSpaceCheck = GetTickCount();
    bool lowSpaceWarned = false;
    const int64_t startHundredNs = TicksToHundredNs(recorder.startCounter, recorder.qpcFrequency);

    while (!recorder.stopRequested.load()) {
        if (recorder.state.load() == Paused) {
            Sleep(5);
            continue;
        }
        const PaceStep step = PaceFrame(recorder.RecordingTime(), nextTime, interval);
        if (!step.write) {
            Sleep(step.sleepMs);
            continue;
        }
        skipped += step.skipped;
        nextTime = step.nextTime;

        if (!recorder.capturer.CopyLatestFrame(source, sourceWidth, sourceHeight)) {
            nextTime += interval;
            continue;
        }
        if (!built || sourceWidth != builtWidth || sourceHeight != builtHeight) {
            const HRESULT hr = converter->Build(recorder.d3d, sourceWidth, sourceHeight, width, height, fps);
            if (FAILED(hr)) {
                const std::wstring error = ErrorText(static_cast<uint32_t>(hr));
                recorder.LatchFailure(L"The graphics chip could not convert the picture for recording (" + error + L").");
                Log(L"Video processor setup failed: %s", error.c_str());
                break;
            }
            built = true;
            builtWidth = sourceWidth;
            builtHeight = sourceHeight;
        }
        if (FAILED(converter->Convert(source.Get(), picture.data()))) {
            nextTime += interval;
            continue;
        }
        if (recorder.options.syncTest) {
            const bool white = SyncMarkerWhite(nextTime, startHundredNs,
                                               TicksToHundredNs(recorder.pausedTicks.load(), recorder.qpcFrequency));
            const size_t lumaSize = static_cast<size_t>(width) * static_cast<size_t>(height);
            std::memset(picture.data(), white ? 235 : 16, lumaSize);
            std::memset(picture.data() + lumaSize, 128, frameSize - lumaSize);
        }
        if (!recorder.WriteVideo(picture.data(), frameSize, nextTime, interval)) break;
        ++written;

        if (GetTickCount() - lastSpaceCheck > kSpaceCheckMs) {
            lastSpaceCheck = GetTickCount();
            const uint64_t free = FreeBytes(recorder.options.folder);
            if (free < kMinimumFreeBytes) {
                recorder.Notify(NotifyOutOfSpace,
                                L"Space ran out where captures are saved, so the recording was stopped and kept.");
                break;
            }
            if (free < kLowSpaceBytes && !lowSpaceWarned) {
                lowSpaceWarned = true;
                recorder.Notify(NotifyLowSpace, L"Less than 500 MB is free where captures are saved. The recording "
                                                L"will stop safely before space runs out.");
            }
        }
        nextTime += interval;
    }
    Log(L"Video loop ended: %lld frames written, %lld skipped while catching up", static_cast<long long>(written),
        static_cast<long long>(skipped));
}
