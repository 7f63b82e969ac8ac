#pragma once
// Fakes of the platform objects that the shipping capture, picture
// conversion, encoding and sound code talk to, for the glue tests under
// Wine, which has none of them. A FakePlatform puts them into the glue's
// tables for its life and gives the tables in force before back afterwards.
//
// The fakes behave as the platform's documentation says Windows behaves, not
// as the code expects: a frame pool holds only its buffers and frames keep
// theirs until closed; a sink writer keeps its call order and fails on a
// later call than the one that caused it when asked; an endpoint's streams
// report AUDCLNT_E_DEVICE_INVALIDATED once it is unplugged; the video device
// can be removed. Each fake can be told to fail a chosen call, fires its
// callbacks from threads of its own, records what it was given, and counts
// itself while alive, so a test can end with none left.
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

// A call to fail: its `nth` use (from 1) and the `times` - 1 uses after it
// (0: every use from the nth on).
struct Failure {
    int nth = 1;
    int times = 1;
    HRESULT result = E_FAIL;
    bool Hits(int use) const { return use >= nth && (times == 0 || use < nth + times); }
};

struct CaptureScript {
    bool supported = true;
    HRESULT wrapDevice = S_OK;        // what CreateDirect3D11DeviceFromDXGIDevice answers
    HRESULT createForMonitor = S_OK;  // what CreateForMonitor answers
    HRESULT createForWindow = S_OK;   // what CreateForWindow answers
    ostrel::wgc::SizeInt32 itemSize{66, 48};
    // Content sizes of the first frames the capture sends after it starts,
    // in order; empty means frames of the item's size. A frame of size 0
    // carries no picture.
    std::vector<ostrel::wgc::SizeInt32> firstFrames;
    int firstFramesApartMs = 0;  // between those
    // After those, a frame of the last size every few milliseconds until the
    // pool is closed, and two deliveries already on their way after that.
    bool keepSending = true;
    // Runs inside TryGetNextFrame, on the pool's thread.
    std::function<void()> insideFrame;
};

// One call of the sink writer to fail: the `nth` (from 1) call named `call`
// ("AddStream", "SetInputMediaType", "BeginWriting", "WriteSample:0" for the
// video stream, "WriteSample:1", "Finalize") of the `writer`-th sink writer
// made. With `late`, that call still succeeds, as an encoder working on its
// own thread does, and the failure shows on the `late`-th call after it (any
// WriteSample or Finalize). Once failed, the writer answers every later call
// with the same code, as the system's does.
struct WriterFailure {
    int writer = 1;
    std::string call;
    int nth = 1;
    HRESULT result = E_FAIL;
    int late = 0;
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

// Calls of the video processor and its context, by name: "CreateVideoProcessor",
// "CreateVideoProcessorInputView", "CreateVideoProcessorOutputView",
// "VideoProcessorBlt", "CopyResource", "Map". A failure with
// DXGI_ERROR_DEVICE_REMOVED removes the device: every later call answers it.
struct VideoScript {
    std::map<std::string, Failure> failures;
};

struct Endpoint {
    EDataFlow flow = eCapture;
    DWORD state = DEVICE_STATE_ACTIVE;
    HRESULT activate = S_OK;
    HRESULT initialize = S_OK;
    // 2: stereo float; 6: 5.1 float, whose sound is in its centre channel only.
    int channels = 2;
    float level = 0.25f;  // what every sample of its sound is
};

struct AudioScript {
    std::map<std::wstring, Endpoint> devices;  // by id
    std::wstring defaultRender, defaultCapture;  // empty: none
};

struct SampleRecord {
    DWORD stream = 0;
    int64_t time = 0;
    int64_t duration = 0;
    std::string bytes;  // kept for the first few samples of each stream
    float level = 0;    // sound: the loudest left value, full scale 1
};

struct WriterRecord {
    UINT32 hardwareTransforms = 99;
    GUID container{};
    UINT32 throttlingDisabled = 99;
    std::vector<GUID> outputSubtypes, inputSubtypes;
    UINT32 inputStride = 0;
    UINT64 inputFrameSize = 0;
    // The colour the video output type declares (MFVideoTransferMatrix,
    // MFNominalRange, MFVideoPrimaries, MFVideoTransferFunction); 99 unset.
    UINT32 matrix = 99, range = 99, primaries = 99, transfer = 99;
    std::vector<SampleRecord> samples;
    bool finalized = false;
    int VideoSamples() const;
};

// What the fakes saw, for the tests to judge.
struct Seen {
    std::mutex lock;
    std::vector<WriterRecord> writers;
    std::vector<std::wstring> activatedEndpoints;
    std::vector<DWORD> streamFlags;  // of every Initialize, in order
    int autoProcessingOff = 0;       // VideoProcessorSetStreamAutoProcessingMode(FALSE) calls
    std::vector<RECT> bltSourceRects;  // the stream's source rectangle at each Blt
    int blts = 0;
    int copies = 0;  // CopyResource
    int maps = 0;
    // Maps of a staging texture whose copy was issued after the latest Blt:
    // the processor waits there for the chip to finish that copy.
    int mapsWaitingOnCopy = 0;
    int framesTaken = 0;  // frames the capture handed out
    int buffersMade = 0;
    int bufferLocks = 0;  // by anyone but the sink writer, which reads them
    int borderlessPolls = 0;  // status asked of the borderless-access request while pending
    std::vector<EXECUTION_STATE> executionStates;  // SetThreadExecutionState calls, in order
    // The input hooks: those in now (kind by handle), all ever set, removals of
    // a hook that is not in, and the kind the system refuses (0: none).
    std::map<HHOOK, int> hooksIn;
    int hooksSet = 0;
    int strayUnhooks = 0;
    int refusedHook = 0;
    std::atomic<int> videoCallsAfterRemoval{0};    // video calls refused once the device was removed
};

// In force for a test: its destruction checks that no fake object is left alive.
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
    // The item captured last (a window, or a monitor that is unplugged) is
    // gone: its Closed handlers run, on a thread of their own.
    void CloseCapturedItem();

    // The endpoint is unplugged: its streams answer AUDCLNT_E_DEVICE_INVALIDATED
    // from now on, and it is no longer anyone's default.
    void Unplug(const std::wstring& id);
    // The endpoint is plugged in (again); its earlier streams stay dead.
    void Plug(const std::wstring& id);
    // Another endpoint becomes the default for `flow`; registered endpoint
    // notification clients hear of it on a thread of their own.
    void SetDefault(EDataFlow flow, const std::wstring& id);
    // Sound from the newest writer: how many samples so far carry about `level`.
    int SoundSamplesAt(float level);

    // Waits until no thread of the fakes is running any more.
    void Quiesce();
    // Video pictures the newest sink writer has taken so far.
    int NewestWriterPictures();

    // The byte the fake video processor writes at (x, y) of its NV12 output.
    static uint8_t PatternAt(int x, int y) { return static_cast<uint8_t>(x + 3 * y); }

    // Guards `audio` against the sound thread while a test changes it.
    std::recursive_mutex audioLock;

private:
    struct Previous;
    Previous* previous_;
    int aliveBefore_;
};

// Fake objects alive now, textures, samples and buffers made by fakes
// included; the platform's own factories, made once per process, are not.
int LiveObjects();

// How often borderless capture access was asked for in this process.
int BorderlessRequests();

// The fake platform in force, or null.
FakePlatform* Current();

}  // namespace fake
