#pragma once
// The one recording session of the process: start, pause, resume and stop on
// one clock, with the video and sound threads and the partial file that gets
// its final name only when it is complete.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "capture/capturer.h"
#include "capture/d3d.h"
#include "capture/region_core.h"
#include "recorder/backends.h"
#include "recorder/input_watch.h"
#include "recorder/recording_rules_core.h"
#include "recorder/sound_mix_core.h"

// Keeping the computer and its display awake, reached through this entry
// point: its default is the system's own; only the glue tests see the calls.
struct PowerPlatform {
    EXECUTION_STATE(WINAPI* setThreadExecutionState)(EXECUTION_STATE flags) = SetThreadExecutionState;
};
PowerPlatform& PowerFunctions();

struct RecordingOptions {
    HMONITOR monitor = nullptr;
    int32_t resolution = 720;  // height limit: 720, 1080, or 0 for the monitor's own size
    int32_t fps = 30;
    bool systemAudio = true;
    bool microphone = false;
    std::wstring microphoneId;
    bool cursor = true;
    std::wstring folder;
    bool syncTest = false;
    // The part of the monitor to record, in the monitor's pixels from its top
    // left corner; all zero for the whole monitor.
    ScreenRect area;
    // A window to record instead of the monitor; the recording ends when it closes.
    HWND window = nullptr;
    // Rings at the pointer's presses, and labels of key combinations, drawn into the pictures.
    bool showClicks = false;
    bool showKeys = false;
};

enum RecorderState : int32_t { Idle = 0, Recording = 1, Paused = 2, Stopping = 3 };

// Codes sent through Recorder::notify from the loop threads.
enum RecorderNotifyCode : int32_t {
    NotifyLowSpace = 1,
    NotifyOutOfSpace = 2,
    NotifyDeviceProblem = 3,
    NotifyWindowClosed = 4,  // the recorded window or monitor is gone; the text says which
    NotifyStopped = 5,       // the picture stopped for good; Stop tells why
};
using RecorderNotify = std::function<void(int32_t code, const std::wstring& text)>;
constexpr wchar_t kWindowClosedText[] = L"The window being recorded was closed, so the recording was stopped and saved.";
constexpr wchar_t kMonitorGoneText[] =
    L"The monitor being recorded was disconnected, so the recording was stopped and saved.";

class Recorder {
public:
    Recorder() = default;
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;
    // A recording still running is stopped and its file finished: its
    // threads are never left running behind an object that has gone.
    ~Recorder();
    // Empty when the recording runs; otherwise the sentence for the user.
    std::wstring Start(const RecordingOptions& options);
    // The saved path, or empty when the file was not finished. `problem`, when
    // given and empty, receives why, or the first failure during the recording.
    std::wstring Stop(std::wstring* problem = nullptr);
    bool Pause();
    bool Resume();
    RecorderState State() const { return static_cast<RecorderState>(state.load()); }
    int64_t RecordingTime() const;  // 100-ns units
    double ElapsedSeconds() const;
    // The loops take the pause state once per turn and work out every time of
    // that turn from it, so a pause or resume never lands halfway through one.
    ClockSnapshot PauseState() const { return pauseClock.Snapshot(); }
    // The recording time now for a pause state taken before.
    int64_t RecordingTime(const ClockSnapshot& pause) const;

    // Set once by the shell; called on loop threads, must not block.
    RecorderNotify notify;

    // Read by the loops.
    RecordingOptions options;
    std::atomic<int32_t> state{Idle};
    std::atomic<bool> stopRequested{false};
    D3D d3d;
    Capturer capturer;
    bool audioEnabled = false;
    int32_t width = 0;
    int32_t height = 0;
    int64_t qpcFrequency = 1;
    int64_t startCounter = 0;
    PauseClock pauseClock;
    // Watches the input only while a recording that shows it runs.
    InputWatch input;
    double inputDpiScale = 1.0;

    // Writes under the writer lock; a failure is latched once and ends the calling loop.
    // A hardware encoder that fails within a recording's first second is
    // replaced by the software one, once, as at the start.
    bool WriteVideo(Picture& picture, int64_t time, int64_t duration);
    HRESULT NewPicture(size_t size, std::unique_ptr<Picture>& picture);
    uint64_t PicturesWaiting();
    // Retry when the writer had no memory for the block and wrote nothing.
    SoundWrite WriteAudio(const int16_t* frames, size_t frameCount, int64_t time, int64_t duration);
    // Keeps the first failure of a recording; later ones are dropped. True when this one was kept.
    bool LatchFailure(const std::wstring& text);
    void Notify(int32_t code, const std::wstring& text) const;

private:
    bool OpenWriter(bool allowHardware, std::wstring& problem);
    bool LatchWriteFailure(HRESULT hr, unsigned long stream);
    std::wstring EncoderSentence(HRESULT hr) const;
    bool SwitchToSoftwareEncoder(HRESULT hr);
    // Under the writer lock: a hardware encoder that failed with `hr` this early is
    // replaced by the software one; true when that worked.
    bool FallBackEarly(HRESULT hr, int64_t time);
    // Under the writer lock: copies an accepted sample while a replacement may still be made.
    void KeepEarly(unsigned long stream, const void* data, size_t size, int64_t time, int64_t duration);

    std::wstring encoderName;
    std::mutex controlLock;
    std::mutex writerLock;
    std::unique_ptr<SampleWriter> writer;
    bool hardwareEncoder = false;  // the writer was opened with hardware allowed
    bool pictureWritten = false;   // the writer has accepted a picture
    HRESULT writerLost = S_OK;     // why the writer is gone before the stop, if it is
    bool replacementFailed = false;  // the software encoder could not take the failed hardware one's place
    EarlyWrites early;               // the hardware encoder's first second, for its replacement
    std::wstring partPath;
    std::wstring finalPath;
    std::wstring lastResult;
    std::thread videoThread;
    std::thread audioThread;
    std::atomic<bool> failureLatched{false};
    std::wstring failureText;
};

extern Recorder TheRecorder;

void VideoLoop(Recorder& recorder);
void AudioLoop(Recorder& recorder);
