#include "recorder/recorder.h"

#include <cstring>
#include <system_error>

#include "common/steady_clock.h"
#include "recorder/recording_rules_core.h"
#include "storage/step_trace_core.h"
#include "storage/folders.h"
#include "storage/log.h"
#include "storage/monitors.h"

Recorder TheRecorder;

namespace {

constexpr DWORD kFirstFrameWaitMs = 3000;
constexpr unsigned long kVideoStream = 0;
constexpr unsigned long kAudioStream = 1;
constexpr size_t kSoundFrameBytes = 4;  // 16-bit stereo

int64_t Counter() {
    LARGE_INTEGER value{};
    QueryPerformanceCounter(&value);
    return value.QuadPart;
}

HRESULT FromWin32(DWORD code) {
    const auto c = static_cast<HRESULT>(code);
    return c <= 0 ? c : static_cast<HRESULT>((code & 0xFFFF) | 0x80070000u);
}

}  // namespace

bool Recorder::OpenWriter(bool allowHardware, std::wstring& problem) {
    writer.reset();
    auto candidate = MakeSampleWriter();
    WriterSetup setup;
    setup.partPath = partPath;
    setup.folder = options.folder;
    setup.width = width;
    setup.height = height;
    setup.fps = options.fps;
    setup.audioEnabled = audioEnabled;
    if (!candidate->Open(setup, allowHardware, problem)) return false;
    writer = std::move(candidate);
    return true;
}

std::wstring Recorder::Start(const RecordingOptions& requested) {
    std::lock_guard<std::mutex> control(controlLock);
    if (state.load() != Idle) return L"A recording is already running. Stop it before starting another.";
    options = requested;
    failureLatched = false;
    failureText.clear();
    stopRequested = false;

    StepTrace trace(SteadyTicks(), SteadyFrequency());
    const auto step = [&trace](const wchar_t* name) { trace.Step(name, SteadyTicks()); };
    if (!EnsureFolder(options.folder)) return L"The captures folder could not be created: " + options.folder;
    if (FreeBytes(options.folder) < kMinimumFreeBytes)
        return L"There is less than 80 MB free where captures are saved. Free some space first.";
    // Without the system's media features no part of a recording can be
    // written, so nothing else is started.
    const std::wstring unavailable = SampleWriterUnavailable();
    if (!unavailable.empty()) return unavailable;

    step(L"checks");
    std::wstring problem;
    d3d = D3D{};
    if (!SharedD3D(d3d, problem)) return problem;
    step(L"device");
    if (!(options.window != nullptr ? capturer.StartWindow(d3d, options.window, options.cursor, problem)
                                    : capturer.Start(d3d, options.monitor, options.cursor, problem)))
        return problem;
    step(L"capture start");
    if (!capturer.WaitForFirstFrame(kFirstFrameWaitMs)) {
        capturer.Stop();
        return L"The screen did not send a picture in time. Try again.";
    }
    step(L"first frame");
    int32_t sourceWidth = 0;
    int32_t sourceHeight = 0;
    bool copied = false;
    {
        Microsoft::WRL::ComPtr<ID3D11Texture2D> scratch;
        copied = capturer.CopyLatestFrame(scratch, sourceWidth, sourceHeight);
    }
    // A first frame that cannot be copied tells nothing of the picture's size.
    if (!copied || sourceWidth <= 0 || sourceHeight <= 0) {
        capturer.Stop();
        return L"The screen did not send a picture in time. Try again.";
    }
    step(L"copy");
    // A part of the monitor is recorded at its own size, unless it is taller than the limit.
    const ScreenRect area = RecordedArea(options.area, sourceWidth, sourceHeight);
    if (!(options.area == ScreenRect{})) {
        const std::wstring small = RecordingRegionProblem(area, options.resolution);
        if (!small.empty()) {
            capturer.Stop();
            return small;
        }
    }
    const OutputSize size = ChooseOutputSize(area.Width(), area.Height(), options.resolution);
    width = size.width;
    height = size.height;
    audioEnabled = options.systemAudio || options.microphone;

    finalPath = UniqueCaptureName(options.folder, L"Recording " + CaptureTimeStamp(), L".mp4");
    partPath = finalPath + L".part";

    pictureWritten = false;
    writerLost = S_OK;
    replacementFailed = false;
    early.Reset();
    hardwareEncoder = OpenWriter(true, problem);
    if (hardwareEncoder) {
        encoderName = L"hardware if available";
    } else {
        Log(L"Hardware encoder unavailable (%s); using the software encoder", problem.c_str());
        problem.clear();
        if (!OpenWriter(false, problem)) {
            capturer.Stop();
            DeleteFileW(partPath.c_str());
            return problem;
        }
        encoderName = L"software";
    }
    step(L"writer");

    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    qpcFrequency = frequency.QuadPart;
    startCounter = Counter();
    pauseClock.Reset();
    state = Recording;

    try {
        videoThread = std::thread(VideoLoop, std::ref(*this));
        if (audioEnabled) audioThread = std::thread(AudioLoop, std::ref(*this));
    } catch (const std::system_error&) {
        // Nothing was kept yet: undo the start completely.
        stopRequested = true;
        if (videoThread.joinable()) videoThread.join();
        stopRequested = false;
        state = Idle;
        capturer.Stop();
        {
            std::lock_guard<std::mutex> lock(writerLock);
            writer.reset();
        }
        d3d = D3D{};
        DeleteFileW(partPath.c_str());
        return L"The recording could not start because Windows could not create its worker thread. Please try again.";
    }

    step(L"threads");
    // Windows counts neither the disk, the processor nor the screen's
    // picture as activity: without this a long unattended recording is put
    // to sleep, which ends its capture and its sound. Start and Stop run on
    // the same thread, whose request this is.
    PowerFunctions().setThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED);
    if (options.showClicks || options.showKeys) {
        inputDpiScale = MonitorDpi(options.window != nullptr ? MonitorFromWindow(options.window, MONITOR_DEFAULTTONEAREST)
                                                             : options.monitor) /
                        96.0;
        input.Start(options.showClicks, options.showKeys);
    }
    Log(L"Recording started: %dx%d %d fps, sound %d mic %d, encoder %s", width, height, options.fps,
        options.systemAudio ? 1 : 0, options.microphone ? 1 : 0, encoderName.c_str());
    Log(L"%s", trace.Line(L"Recording start").c_str());
    return {};
}

Recorder::~Recorder() {
    if (State() != Idle) Stop();
}

PowerPlatform& PowerFunctions() {
    static PowerPlatform functions;
    return functions;
}

std::wstring Recorder::Stop(std::wstring* problem) {
    std::lock_guard<std::mutex> control(controlLock);
    if (state.load() == Idle) return lastResult;
    state = Stopping;
    // A pause still open ends here, so the last sound block runs to the stop.
    pauseClock.Resume(Counter());
    stopRequested = true;
    if (videoThread.joinable()) videoThread.join();
    if (audioThread.joinable()) audioThread.join();
    input.Stop();
    capturer.Stop();
    PowerFunctions().setThreadExecutionState(ES_CONTINUOUS);  // sleep as usual again

    HRESULT finalized = S_OK;
    {
        std::lock_guard<std::mutex> lock(writerLock);
        if (writer) finalized = writer->Finalize();
        else if (FAILED(writerLost)) finalized = writerLost;
        writer.reset();
    }
    d3d = D3D{};

    std::wstring result;
    std::wstring unfinished;
    const wchar_t* outcome = L"saved";
    if (!pictureWritten) {
        // A file without a single picture holds nothing to keep or offer.
        DeleteFileW(partPath.c_str());
        unfinished = L"The recording ended before its first picture was written, so no file was kept.";
        outcome = L"nothing recorded";
    } else {
        HRESULT code = finalized;
        if (SUCCEEDED(finalized)) {
            if (MoveFileExW(partPath.c_str(), finalPath.c_str(), MOVEFILE_WRITE_THROUGH))
                result = finalPath;
            else
                code = FromWin32(GetLastError());
        }
        if (result.empty()) {
            unfinished = L"The recording could not be finished normally (" + ErrorText(static_cast<uint32_t>(code)) +
                         L"). What was recorded is kept as " + partPath + L" and will be offered when Ostrel next starts.";
            Log(L"Finalize failed: %s", ErrorText(static_cast<uint32_t>(code)).c_str());
            outcome = L"kept as part file";
        }
    }
    // What went wrong first is what the user hears: a failure during the
    // recording is usually why it could not be finished either.
    if (problem != nullptr && problem->empty()) *problem = failureLatched.load() ? failureText : unfinished;

    lastResult = result;
    state = Idle;
    Log(L"Recording stopped (%s)", outcome);
    return result;
}

// The state claims the change first, so of two racing calls only one acts;
// the loops follow the clock alone.
bool Recorder::Pause() {
    int32_t expected = Recording;
    if (!state.compare_exchange_strong(expected, Paused)) return false;
    pauseClock.Pause(Counter());
    return true;
}

bool Recorder::Resume() {
    int32_t expected = Paused;
    if (!state.compare_exchange_strong(expected, Recording)) return false;
    pauseClock.Resume(Counter());
    return true;
}

int64_t Recorder::RecordingTime(const ClockSnapshot& pause) const {
    return RecordingTimeAt(Counter(), startCounter, pause, qpcFrequency);
}

int64_t Recorder::RecordingTime() const { return RecordingTime(PauseState()); }

double Recorder::ElapsedSeconds() const {
    const auto current = state.load();
    if (current != Recording && current != Paused) return 0;
    return static_cast<double>(RecordingTime()) / 10000000.0;
}

bool Recorder::LatchFailure(const std::wstring& text) {
    if (failureLatched.exchange(true)) return false;
    failureText = text;
    return true;
}

std::wstring Recorder::EncoderSentence(HRESULT hr) const {
    const std::wstring error = ErrorText(static_cast<uint32_t>(hr));
    // The replacement started the file afresh, or never made it: nothing is kept.
    if (replacementFailed)
        return L"The encoder stopped working (" + error +
               L") and the software encoder could not take its place, so no file was kept.";
    return pictureWritten ? L"The encoder stopped working (" + error + L"). The recording so far was kept."
                          : L"The encoder stopped working (" + error + L") before it took the first picture, so no "
                            L"file was kept.";
}

bool Recorder::LatchWriteFailure(HRESULT hr, unsigned long stream) {
    const std::wstring error = ErrorText(static_cast<uint32_t>(hr));
    if (!LatchFailure(EncoderSentence(hr))) return false;
    Log(L"WriteSample failed on stream %lu: %s", stream, error.c_str());
    return true;
}

bool Recorder::SwitchToSoftwareEncoder(HRESULT hr) {
    Log(L"Hardware encoder unavailable (%s); using the software encoder", ErrorText(static_cast<uint32_t>(hr)).c_str());
    hardwareEncoder = false;
    std::wstring problem;
    if (!OpenWriter(false, problem)) {
        Log(L"%s", problem.c_str());
        writerLost = hr;
        replacementFailed = true;
        pictureWritten = false;  // whatever the part file holds is not a recording to keep
        return false;
    }
    encoderName = L"software";
    return true;
}

bool Recorder::FallBackEarly(HRESULT hr, int64_t time) {
    if (!FAILED(hr) || !hardwareEncoder || time >= kEncoderFallbackWithin || !early.Complete()) return false;
    if (!SwitchToSoftwareEncoder(hr)) return false;
    // The replacement starts its file afresh: it is given again, in their
    // order, everything the failed encoder took.
    pictureWritten = false;
    HRESULT replayed = S_OK;
    for (const EarlyWrites::Write& write : early.Writes()) {
        if (write.stream == kVideoStream) {
            std::unique_ptr<Picture> copy;
            replayed = writer->NewPicture(write.bytes.size(), copy);
            if (SUCCEEDED(replayed) && (!copy || copy->size < write.bytes.size())) replayed = E_UNEXPECTED;
            if (SUCCEEDED(replayed)) {
                std::memcpy(copy->data, write.bytes.data(), write.bytes.size());
                replayed = writer->WriteVideo(*copy, write.time, write.duration);
                if (SUCCEEDED(replayed)) pictureWritten = true;
            }
        } else {
            replayed = writer->WriteAudio(reinterpret_cast<const int16_t*>(write.bytes.data()),
                                          write.bytes.size() / kSoundFrameBytes, write.time, write.duration);
            if (replayed == S_FALSE) replayed = E_OUTOFMEMORY;
        }
        if (FAILED(replayed)) break;
    }
    early.Clear(true);
    if (FAILED(replayed)) {
        LatchWriteFailure(replayed, kVideoStream);
        return false;
    }
    return true;
}

void Recorder::KeepEarly(unsigned long stream, const void* data, size_t size, int64_t time, int64_t duration) {
    if (!hardwareEncoder || !early.Complete()) return;
    if (time >= kEncoderFallbackWithin) early.Clear(true);
    else if (!early.Keep(stream, data, size, time, duration)) Log(L"The first second was not kept for a change of encoder");
}

bool Recorder::WriteVideo(Picture& picture, int64_t time, int64_t duration) {
    std::lock_guard<std::mutex> lock(writerLock);
    if (!writer) return false;
    HRESULT hr = writer->WriteVideo(picture, time, duration);
    // Some hardware encoders accept their set-up and fail only at their
    // first pictures, or tell of it a call or two later. The software
    // encoder takes what they were given, then this picture.
    if (FallBackEarly(hr, time)) hr = writer->WriteVideo(picture, time, duration);
    if (SUCCEEDED(hr)) {
        pictureWritten = true;
        KeepEarly(kVideoStream, picture.data, picture.size, time, duration);
        return true;
    }
    if (writer) LatchWriteFailure(hr, kVideoStream);
    else LatchFailure(EncoderSentence(hr));
    return false;
}

HRESULT Recorder::NewPicture(size_t size, std::unique_ptr<Picture>& picture) {
    std::lock_guard<std::mutex> lock(writerLock);
    return writer ? writer->NewPicture(size, picture) : E_UNEXPECTED;
}

uint64_t Recorder::PicturesWaiting() {
    std::lock_guard<std::mutex> lock(writerLock);
    return writer ? writer->PicturesWaiting() : 0;
}

SoundWrite Recorder::WriteAudio(const int16_t* frames, size_t frameCount, int64_t time, int64_t duration) {
    std::lock_guard<std::mutex> lock(writerLock);
    if (!writer) return SoundWrite::Failed;
    HRESULT hr = writer->WriteAudio(frames, frameCount, time, duration);
    // A failing hardware encoder can show on the sound's call first.
    if (FallBackEarly(hr, time)) hr = writer->WriteAudio(frames, frameCount, time, duration);
    if (hr == S_FALSE) return SoundWrite::Retry;
    if (SUCCEEDED(hr)) {
        KeepEarly(kAudioStream, frames, frameCount * kSoundFrameBytes, time, duration);
        return SoundWrite::Written;
    }
    LatchWriteFailure(hr, kAudioStream);
    return SoundWrite::Failed;
}

void Recorder::Notify(int32_t code, const std::wstring& text) const {
    if (notify) notify(code, text);
}
