// The video thread: one picture per tick of the recording clock, the last one
// repeated on a still screen, slots dropped rather than written late when the
// thread falls behind or the encoder does, and a watch on the free space.
#include <windows.h>
#include <mmsystem.h>

#include <cstring>
#include <new>

#include "common/com_apartment.h"
#include "common/unique_handle.h"
#include "recorder/recorder.h"
#include "recorder/recording_rules_core.h"
#include "storage/folders.h"
#include "storage/log.h"

namespace {

constexpr DWORD kSpaceCheckMs = 5000;
constexpr int64_t kPausedWait = 50000;  // 5 ms
// Not in the toolchain's headers: a timer that keeps its due time to well
// under a millisecond (Windows 10 1803 and later).
constexpr DWORD kHighResolutionTimer = 0x00000002;

// Waits for the next frame slot. Sleep follows the system's tick, 15.6 ms by
// default, which at 60 frames a second takes frames up to a whole slot late;
// a high-resolution timer does not. Where there is none, the system's tick
// is raised to 1 ms for as long as the recording runs.
class FrameWaiter {
public:
    FrameWaiter()
        : timer_(CreateWaitableTimerExW(nullptr, nullptr, kHighResolutionTimer, TIMER_ALL_ACCESS)) {
        if (timer_) return;
        timer_.Reset(CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS));
        tickRaised_ = timeBeginPeriod(1) == TIMERR_NOERROR;
    }
    ~FrameWaiter() {
        if (tickRaised_) timeEndPeriod(1);
    }
    FrameWaiter(const FrameWaiter&) = delete;
    FrameWaiter& operator=(const FrameWaiter&) = delete;

    // `hundredNs` is at most one frame interval.
    void Wait(int64_t hundredNs) {
        LARGE_INTEGER due{};
        due.QuadPart = -hundredNs;  // relative
        if (timer_ && SetWaitableTimer(timer_.Get(), &due, 0, nullptr, nullptr, FALSE)) {
            WaitForSingleObject(timer_.Get(), static_cast<DWORD>(hundredNs / 10000) + 100);
            return;
        }
        Sleep(static_cast<DWORD>(hundredNs / 10000) + 1);
    }

private:
    UniqueHandle timer_;
    bool tickRaised_ = false;
};

}  // namespace

void VideoLoop(Recorder& recorder) {
    ComApartment apartment;
    FrameWaiter waiter;
    const int32_t fps = recorder.options.fps;
    const int32_t width = recorder.width;
    const int32_t height = recorder.height;
    const int64_t interval = FrameInterval(fps);
    const size_t frameSize = static_cast<size_t>(width) * static_cast<size_t>(height) * 3 / 2;
    const size_t lumaSize = static_cast<size_t>(width) * static_cast<size_t>(height);
    std::unique_ptr<PictureConverter> converter = MakePictureConverter();
    Microsoft::WRL::ComPtr<ID3D11Texture2D> source;
    int32_t sourceWidth = 0, sourceHeight = 0;
    // The texture and size the converter was built for. The pointer is only
    // compared: the converter holds that texture, so no new one can take its address.
    ID3D11Texture2D* builtSource = nullptr;
    int32_t builtWidth = 0, builtHeight = 0;
    ScreenRect builtArea;
    // A frame kept in memory is read without the device: under Wine every
    // short-lived thread that uses another thread's device keeps about 2 MB.
    std::vector<uint8_t> pixels;
    int32_t pixelsWidth = 0, pixelsHeight = 0;
    int64_t nextTime = 0;
    int64_t written = 0;
    int64_t skipped = 0;
    DWORD lastSpaceCheck = GetTickCount();
    bool lowSpaceWarned = false;
    const int64_t startHundredNs = TicksToHundredNs(recorder.startCounter, recorder.qpcFrequency);

    while (!recorder.stopRequested.load()) {
        // An exception must not leave this thread: it would end the process.
        try {
            // One reading of the pause state serves the whole pass.
            const ClockSnapshot pause = recorder.PauseState();
            if (recorder.capturer.SourceClosed()) {
                recorder.Notify(NotifyWindowClosed, kWindowClosedText);
                break;
            }
            if (pause.paused) {
                waiter.Wait(kPausedWait);
                continue;
            }
            const PaceStep step = PaceFrame(recorder.RecordingTime(pause), nextTime, interval);
            if (!step.write) {
                waiter.Wait(step.wait);
                continue;
            }
            skipped += step.skipped;
            nextTime = step.nextTime;

            if (recorder.PicturesWaiting() > kMaxPicturesWaiting) {
                ++skipped;
                nextTime += interval;
                continue;
            }
            const bool inMemory = recorder.capturer.CopyLatestPixels(pixels, pixelsWidth, pixelsHeight);
            if (!inMemory && !recorder.capturer.CopyLatestFrame(source, sourceWidth, sourceHeight)) {
                nextTime += interval;
                continue;
            }
            // The part of the frame recorded, kept inside a frame whose size changed.
            const ScreenRect area = inMemory ? RecordedArea(recorder.options.area, pixelsWidth, pixelsHeight)
                                             : RecordedArea(recorder.options.area, sourceWidth, sourceHeight);
            if (area == ScreenRect{}) {
                nextTime += interval;
                continue;
            }
            if (!inMemory && (source.Get() != builtSource || sourceWidth != builtWidth || sourceHeight != builtHeight ||
                              !(area == builtArea))) {
                builtSource = nullptr;
                const HRESULT hr =
                    converter->Build(recorder.d3d, source.Get(), sourceWidth, sourceHeight, area, width, height, fps);
                if (FAILED(hr)) {
                    const std::wstring error = ErrorText(static_cast<uint32_t>(hr));
                    recorder.LatchFailure(L"The graphics chip could not convert the picture for recording (" + error +
                                          L").");
                    Log(L"Video processor setup failed: %s", error.c_str());
                    break;
                }
                builtSource = source.Get();
                builtWidth = sourceWidth;
                builtHeight = sourceHeight;
                builtArea = area;
            }
            std::unique_ptr<Picture> picture;
            if (FAILED(recorder.NewPicture(frameSize, picture)) ||
                FAILED(inMemory ? converter->ConvertPixels(pixels.data(), pixelsWidth, area, width, height, picture->data)
                                : converter->Convert(picture->data))) {
                nextTime += interval;
                continue;
            }
            if (recorder.options.syncTest) {
                const bool white = SyncMarkerWhite(nextTime, startHundredNs,
                                                   TicksToHundredNs(pause.pausedTicks, recorder.qpcFrequency));
                std::memset(picture->data, white ? 235 : 16, lumaSize);
                std::memset(picture->data + lumaSize, 128, frameSize - lumaSize);
            }
            if (!recorder.WriteVideo(*picture, nextTime, interval)) break;
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
                    recorder.Notify(NotifyLowSpace, L"Less than 500 MB is free where captures are saved. The "
                                                    L"recording will stop safely before space runs out.");
                }
            }
            nextTime += interval;
        } catch (const std::bad_alloc&) {
            nextTime += interval;
        }
    }
    Log(L"Video loop ended: %lld frames written, %lld skipped while catching up", static_cast<long long>(written),
        static_cast<long long>(skipped));
}
