// The video thread: one picture per tick of the recording clock, the last one
// repeated on a still screen, slots dropped rather than written late when the
// thread falls behind or the encoder does, and a watch on the free space.
#include <windows.h>
#include <mmsystem.h>
#include <dxgi.h>

#include <cstring>
#include <deque>
#include <string>
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

// DXGI's codes for a graphics device that is gone: removed (a driver update,
// an external chip unplugged), hung, reset or failed inside its driver.
bool DeviceGone(HRESULT hr) {
    return hr == DXGI_ERROR_DEVICE_REMOVED || hr == DXGI_ERROR_DEVICE_HUNG || hr == DXGI_ERROR_DEVICE_RESET ||
           hr == DXGI_ERROR_DRIVER_INTERNAL_ERROR;
}

std::wstring GraphicsSentence(HRESULT hr) {
    return L"The graphics chip could not convert the picture for recording (" + ErrorText(static_cast<uint32_t>(hr)) +
           L").";
}

// A picture submitted to the converter and not yet read back: the slot it fills.
struct Submitted {
    int64_t time;
    int64_t pausedTicks;
    // Where the screen lands in it, for the input shown; empty when none is.
    input_effects::PictureMapping mapping;
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
    std::deque<Submitted> submitted;
    PictureWatch watch;
    int64_t nextTime = 0;
    int64_t written = 0;
    int64_t skipped = 0;
    DWORD lastSpaceCheck = GetTickCount();
    bool lowSpaceWarned = false;
    const int64_t startHundredNs = TicksToHundredNs(recorder.startCounter, recorder.qpcFrequency);

    // Ends the recording's picture: the sentence is kept for the stop, and
    // the shell is asked to stop and save what there is.
    const auto endWith = [&](const std::wstring& sentence) {
        recorder.LatchFailure(sentence);
        recorder.Notify(NotifyStopped, {});
    };
    // A copy or conversion failed: true when the picture is lost for good.
    const auto lost = [&](HRESULT hr, const ClockSnapshot& pause) {
        const bool gone = DeviceGone(hr) || (recorder.d3d.device && FAILED(recorder.d3d.device->GetDeviceRemovedReason()));
        if (!watch.Failed(recorder.RecordingTime(pause), gone)) return false;
        Log(L"Picture lost: %s", ErrorText(static_cast<uint32_t>(hr)).c_str());
        endWith(GraphicsSentence(hr));
        return true;
    };
    // Writes `picture` for `slot`, as the sync test's marker when asked.
    // False when the writer failed (it has latched why).
    const auto write = [&](Picture& picture, const Submitted& slot) {
        // An encoder slower than real time must not pile up pictures of several MB each.
        if (recorder.PicturesWaiting() > kMaxPicturesWaiting) {
            ++skipped;
            return true;
        }
        if (recorder.options.syncTest) {
            const bool white = SyncMarkerWhite(slot.time, startHundredNs,
                                               TicksToHundredNs(slot.pausedTicks, recorder.qpcFrequency));
            std::memset(picture.data, white ? 235 : 16, lumaSize);
            std::memset(picture.data + lumaSize, 128, frameSize - lumaSize);
        }
        if (slot.mapping.areaWidth > 0) {
            const int64_t counterTime = startHundredNs + slot.time +
                                        TicksToHundredNs(slot.pausedTicks, recorder.qpcFrequency);
            recorder.input.Draw(picture.data, width, height, slot.mapping, counterTime);
        }
        if (!recorder.WriteVideo(picture, slot.time, interval)) return false;
        watch.Succeeded();
        ++written;
        return true;
    };
    enum class Outcome { Going, Lost, WriterFailed };
    // Reads back and writes the oldest picture submitted.
    const auto collect = [&](const ClockSnapshot& pause) {
        const Submitted slot = submitted.front();
        submitted.pop_front();
        std::unique_ptr<Picture> picture;
        // Without memory for it, the picture is still collected, and its slot passes.
        if (FAILED(recorder.NewPicture(frameSize, picture))) picture.reset();
        const HRESULT hr = converter->Collect(picture ? picture->data : nullptr);
        if (!picture) return Outcome::Going;
        if (FAILED(hr)) return lost(hr, pause) ? Outcome::Lost : Outcome::Going;
        return write(*picture, slot) ? Outcome::Going : Outcome::WriterFailed;
    };

    Outcome outcome = Outcome::Going;
    // Why the picture ends, told once its last pictures are written.
    const wchar_t* told = nullptr;
    int32_t toldCode = 0;
    while (outcome == Outcome::Going && !recorder.stopRequested.load()) {
        // An exception must not leave this thread: it would end the process.
        try {
            // One reading of the pause state serves the whole pass.
            const ClockSnapshot pause = recorder.PauseState();
            if (recorder.capturer.SourceClosed()) {
                told = recorder.options.window != nullptr ? kWindowClosedText : kMonitorGoneText;
                toldCode = NotifyWindowClosed;
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
            HRESULT copyError = S_OK;
            if (!inMemory && !recorder.capturer.CopyLatestFrame(source, sourceWidth, sourceHeight, &copyError)) {
                if (lost(copyError, pause)) {
                    outcome = Outcome::Lost;
                    break;
                }
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
            Submitted slot{nextTime, pause.pausedTicks, {}};
            if (recorder.input.Watching()) {
                POINT origin{};
                const int32_t frameWidth = inMemory ? pixelsWidth : sourceWidth;
                const int32_t frameHeight = inMemory ? pixelsHeight : sourceHeight;
                if (FrameOrigin(recorder.options.monitor, recorder.options.window, frameWidth, frameHeight, origin))
                    slot.mapping = {origin.x + area.left, origin.y + area.top, area.Width(), area.Height(),
                                    LetterboxPlacement(area.Width(), area.Height(), width, height),
                                    recorder.inputDpiScale};
            }
            if (inMemory) {
                std::unique_ptr<Picture> picture;
                if (SUCCEEDED(recorder.NewPicture(frameSize, picture))) {
                    const HRESULT hr = converter->ConvertPixels(pixels.data(), pixelsWidth, area, width, height,
                                                                picture->data);
                    if (FAILED(hr)) {
                        if (lost(hr, pause)) outcome = Outcome::Lost;
                    } else if (!write(*picture, slot)) {
                        outcome = Outcome::WriterFailed;
                    }
                }
            } else {
                if (source.Get() != builtSource || sourceWidth != builtWidth || sourceHeight != builtHeight ||
                    !(area == builtArea)) {
                    // What the old conversion holds is written before it is rebuilt.
                    while (outcome == Outcome::Going && !submitted.empty()) outcome = collect(pause);
                    if (outcome != Outcome::Going) break;
                    builtSource = nullptr;
                    const HRESULT hr =
                        converter->Build(recorder.d3d, source.Get(), sourceWidth, sourceHeight, area, width, height, fps);
                    if (FAILED(hr)) {
                        const std::wstring error = ErrorText(static_cast<uint32_t>(hr));
                        Log(L"Video processor setup failed: %s", error.c_str());
                        endWith(GraphicsSentence(hr));
                        outcome = Outcome::Lost;
                        break;
                    }
                    builtSource = source.Get();
                    builtWidth = sourceWidth;
                    builtHeight = sourceHeight;
                    builtArea = area;
                }
                const HRESULT hr = converter->Submit();
                if (FAILED(hr)) {
                    if (lost(hr, pause)) outcome = Outcome::Lost;
                } else {
                    submitted.push_back(slot);
                    while (outcome == Outcome::Going && submitted.size() > converter->Depth()) outcome = collect(pause);
                }
            }
            if (outcome != Outcome::Going) break;

            if (GetTickCount() - lastSpaceCheck > kSpaceCheckMs) {
                lastSpaceCheck = GetTickCount();
                const uint64_t free = FreeBytes(recorder.options.folder);
                if (free < kMinimumFreeBytes) {
                    told = L"Space ran out where captures are saved, so the recording was stopped and kept.";
                    toldCode = NotifyOutOfSpace;
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
    if (outcome == Outcome::WriterFailed) recorder.Notify(NotifyStopped, {});
    // The pictures still on their way belong to the recording: the last one
    // is read back here, waiting for the chip to finish it.
    try {
        const ClockSnapshot pause = recorder.PauseState();
        while (outcome == Outcome::Going && !submitted.empty()) outcome = collect(pause);
    } catch (const std::bad_alloc&) {
    }
    if (told != nullptr) recorder.Notify(toldCode, told);
    Log(L"Video loop ended: %lld frames written, %lld skipped while catching up", static_cast<long long>(written),
        static_cast<long long>(skipped));
}
