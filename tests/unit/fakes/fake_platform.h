#pragma once
// Fakes of the platform objects that the shipping capture, picture
// conversion, encoding and sound code talk to, for the glue tests under
// Wine, which has none of them. A FakePlatform puts them into the glue's
// tables for its life and gives the real entries back afterwards. Each fake
// can be told to fail a chosen call, fires its callbacks from threads of its
// own, and records what it was given.
#include <windows.h>
#include <d3d11.h>
#include <mmdeviceapi.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "capture/winrt_capture.h"

namespace fake {

struct CaptureScript {
    bool supported = true;
    HRESULT wrapDevice = S_OK;        // what CreateDirect3D11DeviceFromDXGIDevice answers
    HRESULT createForMonitor = S_OK;  // what CreateForMonitor answers
    ostrel::wgc::SizeInt32 itemSize{66, 48};
    // Content sizes of the frames that StartCapture delivers before it
    // returns; empty means one frame of the item's size. A frame of size 0
    // carries no picture.
    std::vector<ostrel::wgc::SizeInt32> firstFrames;
    // After those, a frame of the last size every few milliseconds until the
    // pool is closed, and two more already on their way after that.
    bool keepSending = true;
    // Runs inside TryGetNextFrame, on the pool's thread.
    std::function<void()> insideFrame;
};

// One call of the sink writer to fail: the `nth` (from 1) call named `call`
// ("AddStream", "SetInputMediaType", "BeginWriting", "WriteSample:0" for the
// video stream, "WriteSample:1", "Finalize") of the `writer`-th sink writer made.
struct WriterFailure {
    int writer = 1;
    std::string call;
    int nth = 1;
    HRESULT result = E_FAIL;
};

struct MediaScript {
    HRESULT createFile = S_OK;  // what MFCreateFile answers
    std::vector<WriterFailure> failures;
    // The writer that failed keeps its file open for good, as a writer given
    // up without being finished may.
    bool failedWriterKeepsFile = false;
    // The encoder takes pictures but finishes none.
    bool encoderStalls = false;
    // Memory buffers numbered here (from 1, counting every one made) cannot be had.
    std::vector<int> failedBuffers;
};

struct VideoScript {
    HRESULT inputView = S_OK;  // what CreateVideoProcessorInputView answers
};

struct Endpoint {
    DWORD state = DEVICE_STATE_ACTIVE;
    HRESULT activate = S_OK;
    HRESULT initialize = S_OK;
};

struct AudioScript {
    std::map<std::wstring, Endpoint> devices;  // by id; "default" is the default endpoint
};

struct SampleRecord {
    DWORD stream = 0;
    int64_t time = 0;
    int64_t duration = 0;
    std::string bytes;  // kept for the first few samples of each stream
};

struct WriterRecord {
    UINT32 hardwareTransforms = 99;
    GUID container{};
    UINT32 throttlingDisabled = 99;
    std::vector<GUID> outputSubtypes, inputSubtypes;
    UINT32 inputStride = 0;
    UINT64 inputFrameSize = 0;
    std::vector<SampleRecord> samples;
    bool finalized = false;
    int VideoSamples() const;
};

// What the fakes saw, for the tests to judge.
struct Seen {
    std::mutex lock;
    std::vector<WriterRecord> writers;
    std::vector<std::wstring> activatedEndpoints;
    int autoProcessingOff = 0;  // VideoProcessorSetStreamAutoProcessingMode(FALSE) calls
    RECT sourceRect{};          // the last VideoProcessorSetStreamSourceRect
    int blts = 0;
};

class FakePlatform {
public:
    FakePlatform();
    ~FakePlatform();
    FakePlatform(const FakePlatform&) = delete;
    FakePlatform& operator=(const FakePlatform&) = delete;

    CaptureScript capture;
    MediaScript media;
    VideoScript video;
    AudioScript audio;
    Seen seen;

    // Fires FrameArrived once more from a thread of its own (the last pool made).
    void FireFrame();
    // Closes the window whose capture item was made last: its Closed handlers run.
    void CloseCapturedWindow();
    // Waits until no thread of the fakes is running any more.
    void Quiesce();
    // Video pictures the newest sink writer has taken so far.
    int NewestWriterPictures();

    // The byte the fake video processor writes at (x, y) of its NV12 output.
    static uint8_t PatternAt(int x, int y) { return static_cast<uint8_t>(x + 3 * y); }
};

// How often borderless capture access was asked for in this process.
int BorderlessRequests();

// The fake platform in force, or null.
FakePlatform* Current();

}  // namespace fake
