// The shipping capture, conversion, encoding and sound code, run under Wine
// against fakes of the platform objects it talks to. What is judged is what
// a user or the platform would notice: the sentence, the file kept, the
// state afterwards, the values the platform would refuse if wrong.
#include <doctest.h>

#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mmdeviceapi.h>
#include <audioclient.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <vector>
#include <memory>
#include <new>
#include <thread>

#include "audio/audio_source.h"
#include "capture/capturer.h"
#include "common/com_apartment.h"
#include "common/unique_handle.h"
#include "fakes/fake_platform.h"
#include "recorder/recorder.h"
#include "recorder/recording_rules_core.h"
#include "storage/folders.h"
#include "storage/monitors.h"
#include "win_test_support.h"

namespace {

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

struct Outcome {
    std::wstring started;  // what Start answered
    std::wstring path;     // what Stop answered
    std::wstring problem;  // Stop's sentence
    std::string log;
    bool saved = false;  // the returned path names a file
    bool partLeft = false;
    std::wstring leftName;
    std::wstring partName;  // the file being written, seen during the recording
    std::vector<std::wstring> notices;  // what the loops sent the user
    std::wstring folder;
};

struct Setup {
    int milliseconds = 700;
    // Also waits, up to 20 s, until the newest writer has this many pictures:
    // a busy machine may give the video thread less time than asked.
    int pictures = 0;
    bool systemAudio = false;
    bool microphone = false;
    std::wstring microphoneId;
    bool showInput = false;  // clicks and keys both
    std::wstring folder = L"captures";  // below the scratch folder, unless it names a drive
    ScreenRect area;                    // of the monitor; all zero for the whole
    HWND window = nullptr;              // recorded instead of the monitor
    std::function<void(const std::wstring& scratch)> before;
    // Runs while the recording runs, with the captures folder.
    std::function<void(Recorder&, const std::wstring&)> during;
    // Told each notice's code as it is sent, on the recording's thread.
    std::function<void(int32_t)> noticed;
};

Setup UntilPictures(int pictures) {
    Setup setup;
    setup.pictures = pictures;
    return setup;
}

std::wstring FirstPart(const std::wstring& folder) {
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW((folder + L"\\*.part").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return {};
    FindClose(search);
    return folder + L"\\" + found.cFileName;
}

// One recording through a fresh Recorder and the fakes.
Outcome Record(fake::FakePlatform& platform, const Setup& setup = {}) {
    ScratchFolder scratch;
    DataDirOverride data(scratch.Path().c_str());
    Outcome outcome;
    {
        Recorder recorder;
        std::mutex lock;
        recorder.notify = [&](int32_t code, const std::wstring& text) {
            std::lock_guard<std::mutex> hold(lock);
            outcome.notices.push_back(std::to_wstring(code) + L" " + text);
            if (setup.noticed) setup.noticed(code);
        };
        RecordingOptions options;
        options.monitor = PrimaryMonitor();
        options.resolution = 0;
        options.fps = 30;
        options.area = setup.area;
        options.window = setup.window;
        options.systemAudio = setup.systemAudio;
        options.microphone = setup.microphone;
        options.microphoneId = setup.microphoneId;
        options.showClicks = options.showKeys = setup.showInput;
        options.folder = setup.folder.find(L':') != std::wstring::npos ? setup.folder : scratch / setup.folder;
        outcome.folder = options.folder;
        if (setup.before) setup.before(scratch.Path());
        outcome.started = recorder.Start(options);
        if (outcome.started.empty()) {
            outcome.partName = FirstPart(options.folder);
            if (setup.during) setup.during(recorder, options.folder);
            Sleep(static_cast<DWORD>(setup.milliseconds));
            for (int waited = 0; waited < 2000 && platform.NewestWriterPictures() < setup.pictures; ++waited) Sleep(10);
            outcome.path = recorder.Stop(&outcome.problem);
        }
        CHECK(recorder.State() == Idle);
        platform.Quiesce();
        {
            // However it ended, the input hooks are out, each removed once.
            std::lock_guard<std::mutex> hold(platform.seen.lock);
            CHECK(platform.seen.hooksIn.empty());
            CHECK(platform.seen.strayUnhooks == 0);
        }
        {
            // However it ended, the computer may sleep again: a recording
            // asks to be kept awake only while it runs.
            std::lock_guard<std::mutex> hold(platform.seen.lock);
            const std::vector<EXECUTION_STATE>& asked = platform.seen.executionStates;
            CHECK((asked.empty() || asked.back() == ES_CONTINUOUS));
            if (outcome.started.empty())
                CHECK(asked == std::vector<EXECUTION_STATE>{ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED,
                                                            ES_CONTINUOUS});
        }
        outcome.saved = !outcome.path.empty() && Exists(outcome.path);
        WIN32_FIND_DATAW found{};
        const HANDLE search = FindFirstFileW((options.folder + L"\\*.part").c_str(), &found);
        outcome.partLeft = search != INVALID_HANDLE_VALUE;
        recorder.notify = nullptr;
        if (search != INVALID_HANDLE_VALUE) {
            outcome.leftName = found.cFileName;
            FindClose(search);
        }
    }
    outcome.log = ReadBytes(scratch / L"ostrel.log");
    return outcome;
}

bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

const char* SmallVolume() {
    const char* small = std::getenv("OSTREL_SMALL_VOLUME");
    return small != nullptr && *small != '\0' ? small : nullptr;
}

}  // namespace

TEST_CASE("the capture: frames keep coming while each is closed, and a stop waits for a frame call under way") {
    ComApartment apartment;
    fake::FakePlatform platform;
    platform.capture.keepSending = false;
    // The starter's device lives in memory that is wiped as soon as it is
    // released, as a screenshot's goes when its function returns.
    alignas(D3D) unsigned char storage[sizeof(D3D)];
    D3D* d3d = new (storage) D3D;
    std::wstring problem;
    REQUIRE(d3d->Create(problem));
    Capturer capturer;
    REQUIRE(capturer.Start(*d3d, PrimaryMonitor(), true, problem));
    // The first frame comes after the start has returned.
    REQUIRE(capturer.WaitForFirstFrame(2000));
    // Windows 11's borderless capture is asked for once, by the first
    // capture of the process, and nobody waits for the answer.
    CHECK(fake::BorderlessRequests() == 1);
    CHECK(platform.seen.borderlessPolls == 0);

    UniqueHandle entered(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    UniqueHandle release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    platform.capture.insideFrame = [&] {
        SetEvent(entered.Get());
        WaitForSingleObject(release.Get(), 5000);
    };
    platform.FireFrame();
    REQUIRE(WaitForSingleObject(entered.Get(), 5000) == WAIT_OBJECT_0);
    std::thread releaser([&] {
        Sleep(300);
        SetEvent(release.Get());
    });
    capturer.Stop();
    // The system lets a running call go on after the handler is removed;
    // the stop itself must wait for it, so it cannot return before the call
    // is let go. (The call's count drops only after the handler has
    // returned, a moment after the stop may have: it is not the measure.)
    CHECK(WaitForSingleObject(release.Get(), 0) == WAIT_OBJECT_0);
    d3d->~D3D();
    std::memset(storage, 0, sizeof storage);
    releaser.join();
    platform.Quiesce();
    CHECK_FALSE(capturer.Running());

    // A pool holds two buffers: only frames that are closed make room for more.
    platform.capture.insideFrame = nullptr;
    platform.capture.keepSending = true;
    D3D device;
    REQUIRE(device.Create(problem));
    REQUIRE(capturer.Start(device, PrimaryMonitor(), true, problem));
    for (int waited = 0; waited < 200 && platform.seen.framesTaken < 20; ++waited) Sleep(10);
    CHECK(platform.seen.framesTaken >= 20);
    // Start and stop many times while frames keep arriving, late ones included;
    // the fakes then check that every frame, pool and texture was let go of.
    for (int round = 0; round < 40; ++round) {
        REQUIRE(capturer.Start(device, PrimaryMonitor(), true, problem));
        Sleep(round % 5);
        capturer.Stop();
    }
    platform.Quiesce();
}

TEST_CASE("a recording through the system's objects, faked") {
    ComApartment apartment;
    fake::FakePlatform platform;

    SUBCASE("pictures reach the encoder tightly packed, once each, in BT.709 at video levels") {
        const Outcome outcome = Record(platform, UntilPictures(10));
        REQUIRE(outcome.started == L"");
        CHECK(outcome.problem == L"");
        CHECK(outcome.path.size() > 4);
        CHECK(outcome.saved);
        INFO(std::string(outcome.leftName.begin(), outcome.leftName.end()));
        CHECK_FALSE(outcome.partLeft);
        REQUIRE(platform.seen.writers.size() == 1);
        const fake::WriterRecord& writer = platform.seen.writers[0];
        CHECK(writer.hardwareTransforms == 1);
        CHECK(writer.container == MFTranscodeContainerType_FMPEG4);
        CHECK(writer.throttlingDisabled == 1);
        REQUIRE(writer.inputSubtypes.size() == 1);
        CHECK(writer.outputSubtypes[0] == MFVideoFormat_H264);
        CHECK(writer.inputSubtypes[0] == MFVideoFormat_NV12);
        CHECK(writer.inputStride == 66);
        CHECK(writer.inputFrameSize == ((UINT64{66} << 32) | 48));
        // What the processor makes is what the stream says it is.
        CHECK(writer.matrix == MFVideoTransferMatrix_BT709);
        CHECK(writer.range == MFNominalRange_16_235);
        CHECK(writer.primaries == MFVideoPrimaries_BT709);
        CHECK(writer.transfer == MFVideoTransFunc_709);
        CHECK(writer.finalized);
        const int pictures = writer.VideoSamples();
        REQUIRE(pictures >= 10);
        // One slot apart, or more where a busy machine made the loop catch up.
        CHECK(writer.samples[0].time == 0);
        for (size_t n = 0; n < writer.samples.size(); ++n) {
            CHECK(writer.samples[n].time % 333333 == 0);
            CHECK(writer.samples[n].duration == 333333);
            if (n > 0) CHECK(writer.samples[n].time > writer.samples[n - 1].time);
        }
        const std::string& picture = writer.samples[0].bytes;
        REQUIRE(picture.size() == 66 * 48 * 3 / 2);
        bool packed = true;
        for (int y = 0; y < 72 && packed; ++y)
            for (int x = 0; x < 66 && packed; ++x)
                packed = static_cast<uint8_t>(picture[static_cast<size_t>(y * 66 + x)]) == fake::FakePlatform::PatternAt(x, y);
        CHECK(packed);
        // Each picture converted once, read back once, straight into the
        // encoder's buffer; the read-back never waits for the copy just
        // issued, but for the last picture at the stop.
        CHECK(platform.seen.blts == pictures);
        CHECK(platform.seen.maps == pictures);
        CHECK(platform.seen.buffersMade == pictures);
        CHECK(platform.seen.bufferLocks == pictures);
        CHECK(platform.seen.mapsWaitingOnCopy <= 1);
        CHECK(platform.seen.autoProcessingOff >= 1);
        for (const RECT& cut : platform.seen.bltSourceRects)
            CHECK((cut.left == 0 && cut.top == 0 && cut.right == 66 && cut.bottom == 48));
    }

    SUBCASE("a part of the monitor is cut out by the processor and recorded at its own even size") {
        Setup setup;
        setup.area = {10, 4, 41, 35};
        const Outcome outcome = Record(platform, setup);
        REQUIRE(outcome.started == L"");
        CHECK(outcome.saved);
        CHECK(platform.seen.writers[0].inputFrameSize == ((UINT64{30} << 32) | 30));
        REQUIRE_FALSE(platform.seen.bltSourceRects.empty());
        for (const RECT& cut : platform.seen.bltSourceRects)
            CHECK((cut.left == 10 && cut.top == 4 && cut.right == 40 && cut.bottom == 34));
        setup.area = {60, 0, 80, 40};  // mostly beside the 66-pixel-wide monitor
        fake::FakePlatform fresh;
        CHECK(Record(fresh, setup).started ==
              L"That region is too small to capture. Drag a rectangle of at least 16 x 16 pixels.");
    }

    SUBCASE("a picture that stops for good stops the recording and says why; a passing failure does not") {
        struct Row {
            const char* name;
            std::function<void(fake::FakePlatform&)> arrange;
            HRESULT said;  // S_OK: the recording goes on
            bool kept;     // pictures came before the failure
        };
        const auto video = [](const char* call, fake::Failure failure) {
            return [=](fake::FakePlatform& f) { f.video.failures[call] = failure; };
        };
        const Row rows[] = {
            {"a chip that cannot read the captured frames", video("CreateVideoProcessorInputView", {1, 0, E_INVALIDARG}),
             E_INVALIDARG, false},
            {"a conversion that fails for good", video("VideoProcessorBlt", {5, 0, E_FAIL}), E_FAIL, true},
            {"a read-back that finds the device removed", video("Map", {5, 1, DXGI_ERROR_DEVICE_REMOVED}),
             DXGI_ERROR_DEVICE_REMOVED, true},
            {"a copy that fails for good", video("CopyResource", {5, 0, E_OUTOFMEMORY}), E_OUTOFMEMORY, true},
            {"a monitor that changes to a size no picture can have",
             [](fake::FakePlatform& f) {
                 f.capture.firstFrames = {{66, 48}, {20000, 20000}};
                 f.capture.firstFramesApartMs = 500;
             },
             E_INVALIDARG, true},
            {"two conversions that fail", video("VideoProcessorBlt", {3, 2, E_FAIL}), S_OK, true},
        };
        for (const Row& row : rows) {
            INFO(std::string(row.name));
            fake::FakePlatform fresh;
            row.arrange(fresh);
            UniqueHandle stopped(CreateEventW(nullptr, TRUE, FALSE, nullptr));
            Setup setup;
            setup.milliseconds = FAILED(row.said) ? 0 : 1500;
            setup.noticed = [&](int32_t code) {
                if (code == NotifyStopped) SetEvent(stopped.Get());
            };
            setup.during = [&](Recorder&, const std::wstring&) {
                if (FAILED(row.said)) CHECK(WaitForSingleObject(stopped.Get(), 15000) == WAIT_OBJECT_0);
            };
            const Outcome outcome = Record(fresh, setup);
            REQUIRE(outcome.started == L"");
            if (SUCCEEDED(row.said)) {
                CHECK(outcome.problem == L"");
                CHECK(outcome.notices.empty());
                CHECK(outcome.saved);
                continue;
            }
            CHECK(outcome.problem == L"The graphics chip could not convert the picture for recording (" +
                                         ErrorText(static_cast<uint32_t>(row.said)) + L").");
            CHECK(outcome.notices == std::vector<std::wstring>{L"5 "});
            // A removed device is not tried for two seconds more: the loop
            // stops at once, with a call or two of clearing up at most.
            if (row.said == DXGI_ERROR_DEVICE_REMOVED) CHECK(fresh.seen.videoCallsAfterRemoval.load() <= 4);
            // What was recorded is kept; a recording with no picture leaves no file.
            CHECK(outcome.saved == row.kept);
            CHECK_FALSE(outcome.partLeft);
        }
    }

    SUBCASE("a hardware encoder that fails within the first second gives way to the software one") {
        struct Row {
            const char* name;
            fake::WriterFailure failure;
        };
        const Row rows[] = {
            {"at its first picture", {1, "WriteSample:0", 1, MF_E_INVALIDREQUEST, 0}},
            {"told two calls after its fourth picture", {1, "WriteSample:0", 4, E_FAIL, 2}},
        };
        for (const Row& row : rows) {
            INFO(std::string(row.name));
            fake::FakePlatform fresh;
            fresh.media.failures = {row.failure};
            const Outcome outcome = Record(fresh, UntilPictures(10));
            REQUIRE(outcome.started == L"");
            CHECK(outcome.problem == L"");
            CHECK(outcome.saved);
            REQUIRE(fresh.seen.writers.size() == 2);
            CHECK(fresh.seen.writers[1].hardwareTransforms == 0);
            CHECK(fresh.seen.writers[1].VideoSamples() >= 10);
            CHECK(fresh.seen.writers[1].finalized);
            CHECK(Contains(outcome.log, "using the software encoder"));
            // The replacement's file starts where the recording did: it was
            // given every picture and sound the failed encoder took, in order.
            const auto& before = fresh.seen.writers[0].samples;
            const auto& after = fresh.seen.writers[1].samples;
            REQUIRE(after.size() >= before.size());
            for (size_t i = 0; i < before.size(); ++i) {
                CHECK(after[i].stream == before[i].stream);
                CHECK(after[i].time == before[i].time);
                CHECK(after[i].bytes == before[i].bytes);
            }
        }
    }

    SUBCASE("a hardware set-up that fails while holding its file leaves the file to the software one") {
        platform.media.failures = {{1, "SetInputMediaType", 1, MF_E_INVALIDMEDIATYPE}};
        platform.media.failedWriterKeepsFile = true;
        const Outcome outcome = Record(platform);
        INFO(std::string(outcome.started.begin(), outcome.started.end()));
        CHECK(outcome.started == L"");
        CHECK(outcome.saved);
        CHECK_FALSE(outcome.partLeft);
    }

    SUBCASE("an encoder that falls behind gets no more pictures than it can hold") {
        platform.media.encoderStalls = true;
        const Outcome outcome = Record(platform, UntilPictures(static_cast<int>(kMaxPicturesWaiting) + 1));
        REQUIRE(outcome.started == L"");
        REQUIRE(platform.seen.writers.size() == 1);
        CHECK(platform.seen.writers[0].VideoSamples() == static_cast<int>(kMaxPicturesWaiting) + 1);
        CHECK(Contains(outcome.log, "skipped while catching up"));
        CHECK_FALSE(Contains(outcome.log, " 0 skipped while catching up"));
    }

    SUBCASE("memory that cannot be had for a picture or two passes those slots only") {
        platform.media.failedBuffers = {2, 3};
        const Outcome outcome = Record(platform, UntilPictures(8));
        INFO(outcome.log);
        REQUIRE(outcome.started == L"");
        CHECK(outcome.problem == L"");
        CHECK(platform.seen.writers[0].VideoSamples() >= 8);
    }
}

TEST_CASE("sound endpoints: the speakers by loopback, surround folded down, a microphone that is gone gives way") {
    ComApartment apartment;
    fake::FakePlatform platform;
    // 5.1 speakers whose sound is all in the centre channel, where dialogue is.
    platform.audio.devices[L"speakers"] = {eRender, DEVICE_STATE_ACTIVE, S_OK, S_OK, 6, 0.5f};
    platform.audio.devices[L"mic"] = {eCapture, DEVICE_STATE_ACTIVE, S_OK, S_OK, 2, 0.25f};
    platform.audio.defaultRender = L"speakers";
    platform.audio.defaultCapture = L"mic";
    std::wstring problem;
    {
        AudioSource computer;
        REQUIRE(computer.Open(true, {}, problem));
        Sleep(100);
        std::vector<float> block;
        int64_t end = 0;
        computer.Read(block, end);
        REQUIRE(block.size() >= 2 * 480);
        CHECK(end != 0);
        // The centre at -3 dB, in gains scaled so that no side can clip: 1 + 2 x 0.707 in all.
        CHECK(std::fabs(block[0] - 0.5f * 0.70710678f / (1 + 2 * 0.70710678f)) < 1e-4f);
        CHECK(block[0] == block[1]);
    }
    CHECK(platform.seen.streamFlags == std::vector<DWORD>{AUDCLNT_STREAMFLAGS_LOOPBACK});

    // Windows still finds an unplugged microphone by its id; it cannot be opened.
    platform.audio.devices[L"unplugged"] = {eCapture, DEVICE_STATE_UNPLUGGED, S_OK, S_OK, 2, 0.25f};
    AudioSource source;
    CHECK(source.Open(false, L"unplugged", problem));
    CHECK(source.Open(false, L"never-there", problem));
    CHECK(platform.seen.activatedEndpoints == std::vector<std::wstring>{L"speakers", L"mic", L"mic"});

    platform.audio.devices[L"mic"].initialize = AUDCLNT_E_UNSUPPORTED_FORMAT;
    CHECK_FALSE(source.Open(false, L"", problem));
    CHECK(problem == L"The sound device could not be started: " +
                         ErrorText(static_cast<uint32_t>(AUDCLNT_E_UNSUPPORTED_FORMAT)));
    source.Close();
}

TEST_CASE("a sound device that goes away is opened again: the gap is silence and nothing shifts") {
    ComApartment apartment;
    fake::FakePlatform platform;
    constexpr float kSpeakers = 0.25f, kHeadset = 0.5f, kChosenMic = 0.125f, kDefaultMic = 0.375f;
    platform.audio.devices[L"speakers"] = {eRender, DEVICE_STATE_ACTIVE, S_OK, S_OK, 2, kSpeakers};
    platform.audio.devices[L"headset"] = {eRender, DEVICE_STATE_ACTIVE, S_OK, S_OK, 2, kHeadset};
    platform.audio.devices[L"chosen mic"] = {eCapture, DEVICE_STATE_ACTIVE, S_OK, S_OK, 2, kChosenMic};
    platform.audio.devices[L"default mic"] = {eCapture, DEVICE_STATE_ACTIVE, S_OK, S_OK, 2, kDefaultMic};
    platform.audio.defaultRender = L"speakers";
    platform.audio.defaultCapture = L"default mic";
    const auto until = [&](float level) {
        for (int waited = 0; waited < 500 && platform.SoundSamplesAt(level) < 5; ++waited) Sleep(10);
        return platform.SoundSamplesAt(level) >= 5;
    };
    const auto contiguous = [&] {
        // Every block of sound begins where the one before ended (to the
        // rounding of its time), and the sound lasts as long as the picture.
        std::lock_guard<std::mutex> hold(platform.seen.lock);
        const std::vector<fake::SampleRecord>& samples = platform.seen.writers.back().samples;
        int64_t soundEnd = -1, pictureEnd = 0;
        bool joined = true;
        for (const fake::SampleRecord& sample : samples) {
            if (sample.stream == 0) {
                pictureEnd = sample.time + sample.duration;
                continue;
            }
            if (soundEnd >= 0 && std::llabs(sample.time - soundEnd) > 1) {
                MESSAGE("sound at " << sample.time << " after sound ending at " << soundEnd);
                joined = false;
            }
            soundEnd = sample.time + sample.duration;
        }
        MESSAGE("sound ends at " << soundEnd << ", the picture at " << pictureEnd);
        return joined && std::llabs(soundEnd - pictureEnd) < 2000000;
    };
    const std::wstring computerChanged =
        L"3 The sound device changed. Recording continues with the computer's sound from the device now in use.";

    SUBCASE("the computer's sound: unplugged, none left, a headset plugged in, then the speakers chosen again") {
        Setup setup;
        setup.systemAudio = true;
        setup.milliseconds = 0;
        setup.during = [&](Recorder&, const std::wstring&) {
            REQUIRE(until(kSpeakers));
            platform.Unplug(L"speakers");
            Sleep(3000);
            platform.SetDefault(eRender, L"headset");
            REQUIRE(until(kHeadset));
            // A new default while the old device works (headphones plugged in).
            platform.Plug(L"speakers");
            const int before = platform.SoundSamplesAt(kSpeakers);
            platform.SetDefault(eRender, L"speakers");
            for (int waited = 0; waited < 300 && platform.SoundSamplesAt(kSpeakers) < before + 5; ++waited) Sleep(10);
            CHECK(platform.SoundSamplesAt(kSpeakers) >= before + 5);
        };
        const Outcome outcome = Record(platform, setup);
        REQUIRE(outcome.started == L"");
        CHECK(outcome.saved);
        CHECK(outcome.notices == std::vector<std::wstring>{
                                     L"3 No speakers or headphones were found, so computer sound can't be recorded. "
                                     L"Recording continues with silence in its place.",
                                     computerChanged, computerChanged});
        CHECK(Contains(outcome.log, "Computer sound device lost: "));
        CHECK(Contains(outcome.log, "Computer sound reopened"));
        CHECK(platform.SoundSamplesAt(0) > 0);  // the gap
        CHECK(contiguous());
    }

    SUBCASE("the computer's sound: a default that Windows moves a moment after the loss is one change") {
        Setup setup;
        setup.systemAudio = true;
        setup.milliseconds = 0;
        setup.during = [&](Recorder&, const std::wstring&) {
            REQUIRE(until(kSpeakers));
            const int silent = platform.SoundSamplesAt(0);
            platform.Unplug(L"speakers");
            // The loss is seen and nothing opens yet; then Windows moves the default.
            for (int waited = 0; waited < 300 && platform.SoundSamplesAt(0) < silent + 3; ++waited) Sleep(10);
            REQUIRE(platform.SoundSamplesAt(0) >= silent + 3);
            platform.SetDefault(eRender, L"headset");
            REQUIRE(until(kHeadset));
        };
        const Outcome outcome = Record(platform, setup);
        REQUIRE(outcome.started == L"");
        CHECK(outcome.notices == std::vector<std::wstring>{computerChanged});
    }

    const std::wstring microphoneChanged =
        L"3 The microphone changed. Recording continues with the microphone now in use.";

    SUBCASE("a chosen microphone that is unplugged gives way to the default one, and is taken again when it returns") {
        Setup setup;
        setup.microphone = true;
        setup.microphoneId = L"chosen mic";
        setup.milliseconds = 0;
        setup.during = [&](Recorder&, const std::wstring&) {
            REQUIRE(until(kChosenMic));
            platform.Unplug(L"chosen mic");
            REQUIRE(until(kDefaultMic));
            const int before = platform.SoundSamplesAt(kChosenMic);
            platform.Plug(L"chosen mic");
            for (int waited = 0; waited < 300 && platform.SoundSamplesAt(kChosenMic) < before + 5; ++waited) Sleep(10);
            CHECK(platform.SoundSamplesAt(kChosenMic) >= before + 5);
        };
        const Outcome outcome = Record(platform, setup);
        REQUIRE(outcome.started == L"");
        CHECK(outcome.saved);
        CHECK(outcome.notices == std::vector<std::wstring>{microphoneChanged, microphoneChanged});
        CHECK(Contains(outcome.log, "Microphone device lost: "));
        CHECK(Contains(outcome.log, "Microphone device changed: the chosen one is back"));
        CHECK(contiguous());
    }

    SUBCASE("a microphone left on the default follows a new default") {
        Setup setup;
        setup.microphone = true;
        setup.milliseconds = 0;
        setup.during = [&](Recorder&, const std::wstring&) {
            REQUIRE(until(kDefaultMic));
            platform.SetDefault(eCapture, L"chosen mic");
            REQUIRE(until(kChosenMic));
        };
        const Outcome outcome = Record(platform, setup);
        REQUIRE(outcome.started == L"");
        CHECK(outcome.notices == std::vector<std::wstring>{microphoneChanged});
        CHECK(contiguous());
    }
}

// A check that fails while a recording runs ends its case, and only its
// case: the recording's threads are stopped as the check unwinds, rather
// than ending the whole run.
TEST_CASE("a check failing during a recording fails its case and lets the rest run" * doctest::should_fail()) {
    ComApartment apartment;
    fake::FakePlatform platform;
    Setup setup;
    setup.during = [](Recorder&, const std::wstring&) { REQUIRE(false); };
    Record(platform, setup);
}

TEST_CASE("the input hooks are in only while a recording that shows the input runs") {
    ComApartment apartment;
    fake::FakePlatform platform;
    const auto hooksIn = [&] {
        std::lock_guard<std::mutex> hold(platform.seen.lock);
        std::vector<int> kinds;
        for (const auto& [hook, kind] : platform.seen.hooksIn) kinds.push_back(kind);
        std::sort(kinds.begin(), kinds.end());
        return kinds;
    };
    std::vector<int> during;
    Setup setup;
    setup.during = [&](Recorder&, const std::wstring&) { during = hooksIn(); };

    SUBCASE("a recording that shows them, to its stop") {
        setup.showInput = true;
        CHECK(Record(platform, setup).saved);
        CHECK(during == std::vector<int>{WH_KEYBOARD_LL, WH_MOUSE_LL});
    }
    SUBCASE("one that does not") {
        CHECK(Record(platform, setup).saved);
        CHECK(during.empty());
    }
    SUBCASE("a start that fails sets none") {
        setup.showInput = true;
        platform.media.createFile = E_ACCESSDENIED;
        CHECK(!Record(platform, setup).started.empty());
        CHECK(platform.seen.hooksSet == 0);
    }
    SUBCASE("a hook the system refuses: the recording goes on with the other, and the log says so") {
        setup.showInput = true;
        platform.seen.refusedHook = WH_KEYBOARD_LL;
        const Outcome outcome = Record(platform, setup);
        CHECK(outcome.saved);
        CHECK(during == std::vector<int>{WH_MOUSE_LL});
        CHECK(Contains(outcome.log, "Key combinations are not shown: the keyboard could not be watched"));
    }
    SUBCASE("a recorder that ends while it records, as at the end of the session") {
        ScratchFolder scratch;
        DataDirOverride data(scratch.Path().c_str());
        {
            Recorder recorder;
            RecordingOptions options;
            options.monitor = PrimaryMonitor();
            options.folder = scratch / L"captures";
            options.showClicks = true;
            REQUIRE(recorder.Start(options).empty());
            CHECK(hooksIn() == std::vector<int>{WH_MOUSE_LL});
        }
        platform.Quiesce();
        CHECK(hooksIn().empty());
    }
}

TEST_CASE("every sentence a recording can end with, and the file it keeps") {
    ComApartment apartment;
    fake::FakePlatform platform;
    const auto text = [](HRESULT hr) { return ErrorText(static_cast<uint32_t>(hr)); };

    SUBCASE("starts that are refused leave nothing behind") {
        struct Row {
            const char* name;
            std::function<void(fake::FakePlatform&, Setup&)> arrange;
            std::function<std::wstring(const Outcome&)> sentence;
        };
        const Row rows[] = {
            {"folder", [](fake::FakePlatform&, Setup& s) {
                 s.folder = L"file.txt\\captures";
                 s.before = [](const std::wstring& scratch) { WriteBytes(scratch + L"\\file.txt", "x"); };
             },
             [](const Outcome& o) { return L"The captures folder could not be created: " + o.folder; }},
            {"wrapper", [](fake::FakePlatform& f, Setup&) { f.capture.wrapDevice = E_NOINTERFACE; },
             [&](const Outcome&) { return L"Screen capture is not available: " + text(E_NOINTERFACE); }},
            {"unsupported", [](fake::FakePlatform& f, Setup&) { f.capture.supported = false; },
             [](const Outcome&) {
                 return std::wstring(L"This version of Windows can't capture the screen (Windows 10 version 1903 or "
                                     L"later is needed).");
             }},
            {"no picture", [](fake::FakePlatform& f, Setup&) {
                 f.capture.firstFrames = {{0, 0}};
                 f.capture.keepSending = false;
             },
             [](const Outcome&) { return std::wstring(L"The screen did not send a picture in time. Try again."); }},
            {"a monitor of a size no picture can have", [](fake::FakePlatform& f, Setup&) {
                 f.capture.firstFrames = {{20000, 20000}};
                 f.capture.keepSending = false;
             },
             [](const Outcome&) { return std::wstring(L"The screen did not send a picture in time. Try again."); }},
            {"a window Windows will not capture", [](fake::FakePlatform& f, Setup& s) {
                 s.window = GetDesktopWindow();
                 f.capture.createForWindow = E_INVALIDARG;
             },
             [&](const Outcome&) {
                 return L"That window can't be recorded: Windows refused to capture it (" + text(E_INVALIDARG) +
                        L"). Record a region around it instead.";
             }},
            {"file", [](fake::FakePlatform& f, Setup&) { f.media.createFile = E_ACCESSDENIED; },
             [&](const Outcome& o) {
                 return L"The recording file could not be created in " + o.folder + L": " + text(E_ACCESSDENIED);
             }},
            {"video encoder", [](fake::FakePlatform& f, Setup&) {
                 f.media.failures = {{1, "AddStream", 1, MF_E_INVALIDMEDIATYPE}, {2, "AddStream", 1, MF_E_TOPO_CODEC_NOT_FOUND}};
             },
             [&](const Outcome&) { return L"The H.264 encoder could not be set up: " + text(MF_E_TOPO_CODEC_NOT_FOUND); }},
            {"sound encoder", [](fake::FakePlatform& f, Setup& s) {
                 s.systemAudio = true;
                 f.audio.devices[L"speakers"] = {eRender};
                 f.audio.defaultRender = L"speakers";
                 f.media.failures = {{1, "SetInputMediaType", 2, MF_E_INVALIDMEDIATYPE},
                                     {2, "SetInputMediaType", 2, MF_E_INVALIDMEDIATYPE}};
             },
             [&](const Outcome&) { return L"The AAC sound encoder could not be set up: " + text(MF_E_INVALIDMEDIATYPE); }},
            {"begin", [](fake::FakePlatform& f, Setup&) {
                 f.media.failures = {{1, "BeginWriting", 1, E_FAIL}, {2, "BeginWriting", 1, E_OUTOFMEMORY}};
             },
             [&](const Outcome&) { return L"The recording could not start: " + text(E_OUTOFMEMORY); }},
        };
        for (const Row& row : rows) {
            fake::FakePlatform fresh;
            Setup setup;
            row.arrange(fresh, setup);
            const Outcome outcome = Record(fresh, setup);
            INFO(std::string(row.name));
            CHECK(outcome.started == row.sentence(outcome));
            CHECK(outcome.path.empty());
            CHECK_FALSE(outcome.partLeft);
        }
    }

    SUBCASE("a start while one runs is refused and changes nothing") {
        Setup setup;
        std::wstring second;
        setup.during = [&](Recorder& recorder, const std::wstring& folder) {
            RecordingOptions again;
            again.monitor = PrimaryMonitor();
            again.folder = folder;
            second = recorder.Start(again);
        };
        const Outcome outcome = Record(platform, setup);
        CHECK(second == L"A recording is already running. Stop it before starting another.");
        CHECK(outcome.saved);
    }

    SUBCASE("a capture that cannot start gives Windows' own words") {
        platform.capture.createForMonitor = E_ACCESSDENIED;
        const Outcome outcome = Record(platform);
        const std::wstring lead = L"Screen capture could not start: ";
        CHECK(outcome.started.rfind(lead, 0) == 0);
        CHECK(outcome.started.size() > lead.size() + 3);
    }

    SUBCASE("a file that cannot be finished stays as its part file, said so") {
        for (const bool nameTaken : {false, true}) {
            fake::FakePlatform fresh;
            Setup setup;
            if (nameTaken) {
                // Another program makes a file of the recording's final name meanwhile.
                setup.during = [](Recorder&, const std::wstring& folder) {
                    const std::wstring part = FirstPart(folder);
                    WriteBytes(part.substr(0, part.size() - 5), "someone else's");
                };
            } else {
                fresh.media.failures = {{1, "Finalize", 1, MF_E_SINK_NO_STREAMS}};
            }
            const Outcome outcome = Record(fresh, setup);
            REQUIRE(outcome.started == L"");
            const HRESULT code = nameTaken ? HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS) : MF_E_SINK_NO_STREAMS;
            CHECK(outcome.problem == L"The recording could not be finished normally (" + text(code) +
                                         L"). What was recorded is kept as " + outcome.partName +
                                         L" and will be offered when Ostrel next starts.");
            CHECK(outcome.path.empty());
            CHECK(outcome.partLeft);
            CHECK(Contains(outcome.log, "Recording stopped (kept as part file)"));
        }
    }

    SUBCASE("an encoder that stops after the first second stops the recording; what it said first is what is told") {
        for (const int late : {0, 2}) {
            INFO("told " << late << " calls late");
            fake::FakePlatform fresh;
            // The 35th picture is 1.13 s into the recording.
            fresh.media.failures = {{1, "WriteSample:0", 35, MF_E_UNEXPECTED, late}};
            UniqueHandle stopped(CreateEventW(nullptr, TRUE, FALSE, nullptr));
            Setup setup;
            setup.milliseconds = 0;
            setup.noticed = [&](int32_t code) {
                if (code == NotifyStopped) SetEvent(stopped.Get());
            };
            setup.during = [&](Recorder&, const std::wstring&) {
                CHECK(WaitForSingleObject(stopped.Get(), 15000) == WAIT_OBJECT_0);
            };
            const Outcome outcome = Record(fresh, setup);
            // The writer fails from then on, its finishing too: the encoder's
            // sentence is told, not the unfinished file's.
            CHECK(outcome.problem == L"The encoder stopped working (" + text(MF_E_UNEXPECTED) +
                                         L"). The recording so far was kept.");
            CHECK(outcome.notices == std::vector<std::wstring>{L"5 "});
            CHECK(fresh.seen.writers.size() == 1);
            CHECK(fresh.seen.writers[0].VideoSamples() == 34 + late);
            CHECK(outcome.partLeft);
            CHECK(Contains(outcome.log, "WriteSample failed on stream 0"));
        }
    }

    SUBCASE("a hardware encoder failing early whose software replacement cannot open says nothing was kept") {
        fake::FakePlatform fresh;
        // The hardware writer takes nine pictures, then fails; the software
        // writer makes its file and then cannot set up its stream.
        fresh.media.failures = {{1, "WriteSample:0", 10, MF_E_UNEXPECTED}, {2, "AddStream", 1, MF_E_TOPO_CODEC_NOT_FOUND}};
        Setup setup;
        setup.milliseconds = 800;
        const Outcome outcome = Record(fresh, setup);
        REQUIRE(outcome.started == L"");
        CHECK(outcome.problem == L"The encoder stopped working (" + text(MF_E_UNEXPECTED) +
                                     L") and the software encoder could not take its place, so no file was kept.");
        CHECK_FALSE(outcome.saved);
        CHECK_FALSE(outcome.partLeft);
        CHECK(Contains(outcome.log, "Hardware encoder unavailable"));
    }

    SUBCASE("an encoder that refuses every picture leaves no file, and says so") {
        fake::FakePlatform fresh;
        fresh.media.failures = {{1, "WriteSample:0", 1, E_FAIL}, {2, "WriteSample:0", 1, MF_E_UNEXPECTED}};
        Setup setup;
        setup.milliseconds = 300;
        const Outcome outcome = Record(fresh, setup);
        CHECK(outcome.problem == L"The encoder stopped working (" + text(MF_E_UNEXPECTED) +
                                     L") before it took the first picture, so no file was kept.");
        CHECK_FALSE(outcome.saved);
        CHECK_FALSE(outcome.partLeft);
    }

    SUBCASE("a recorded window that closes, or a monitor unplugged, ends the picture with a sentence; the file is saved") {
        for (const bool window : {true, false}) {
            fake::FakePlatform fresh;
            UniqueHandle closed(CreateEventW(nullptr, TRUE, FALSE, nullptr));
            Setup setup;
            setup.window = window ? GetDesktopWindow() : nullptr;
            setup.milliseconds = 0;
            setup.noticed = [&](int32_t code) {
                if (code == NotifyWindowClosed) SetEvent(closed.Get());
            };
            setup.during = [&](Recorder&, const std::wstring&) {
                Sleep(200);
                fresh.CloseCapturedItem();
                CHECK(WaitForSingleObject(closed.Get(), 10000) == WAIT_OBJECT_0);
            };
            const Outcome outcome = Record(fresh, setup);
            REQUIRE(outcome.started == L"");
            CHECK(outcome.notices == std::vector<std::wstring>{std::wstring(L"4 ") +
                                                               (window ? kWindowClosedText : kMonitorGoneText)});
            CHECK(outcome.problem == L"");
            CHECK(outcome.saved);
        }
    }

    SUBCASE("sound devices that are missing are told, and the recording goes on") {
        Setup setup;
        setup.systemAudio = true;
        setup.microphone = true;
        const Outcome outcome = Record(platform, setup);
        CHECK(outcome.saved);
        CHECK(outcome.notices == std::vector<std::wstring>{
                                     L"3 No speakers or headphones were found, so computer sound can't be recorded. "
                                     L"Recording continues with silence in its place.",
                                     L"3 No microphone was found. Recording continues without it."});
        CHECK(platform.seen.writers[0].samples.size() > static_cast<size_t>(platform.seen.writers[0].VideoSamples()));
    }
}

TEST_CASE("space that runs low is told once; space that runs out stops the picture and keeps the file" *
          doctest::skip(SmallVolume() == nullptr)) {
    // A small volume mounted for this test (tools/test.sh): the fakes write
    // nothing, so the test alone decides how much space is left. Without it
    // the test shows as skipped.
    ComApartment apartment;
    fake::FakePlatform platform;
    {
        const char* small = SmallVolume();
        std::wstring volume = L"Z:";
        for (const char* c = small; *c; ++c) volume += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
        const std::wstring filler = volume + L"\\filler";
        const auto leaveFree = [&](uint64_t bytes) {
            UniqueHandle file(CreateFileW(filler.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS, 0, nullptr));
            REQUIRE(file.Get() != INVALID_HANDLE_VALUE);
            const std::string chunk(1 << 20, 'f');
            for (uint64_t free = FreeBytes(volume); free > bytes; free = FreeBytes(volume)) {
                DWORD written = 0;
                const DWORD size = static_cast<DWORD>(std::min<uint64_t>(chunk.size(), free - bytes));
                REQUIRE(WriteFile(file.Get(), chunk.data(), size, &written, nullptr));
            }
        };
        UniqueHandle low(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        UniqueHandle out(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        Setup setup;
        setup.folder = volume + L"\\captures";
        setup.milliseconds = 0;
        setup.noticed = [&](int32_t code) { SetEvent(code == 1 ? low.Get() : out.Get()); };
        setup.during = [&](Recorder&, const std::wstring&) {
            leaveFree(300ull << 20);
            CHECK(WaitForSingleObject(low.Get(), 30000) == WAIT_OBJECT_0);
            leaveFree(40ull << 20);
            CHECK(WaitForSingleObject(out.Get(), 30000) == WAIT_OBJECT_0);
            // The picture stops there, while the recording waits for the user's stop.
            const int pictures = platform.NewestWriterPictures();
            Sleep(300);
            CHECK(platform.NewestWriterPictures() == pictures);
        };
        const Outcome outcome = Record(platform, setup);
        DeleteFileW(filler.c_str());
        REQUIRE(outcome.started == L"");
        CHECK(outcome.notices ==
              std::vector<std::wstring>{L"1 Less than 500 MB is free where captures are saved. The recording will stop "
                                        L"safely before space runs out.",
                                        L"2 Space ran out where captures are saved, so the recording was stopped and kept."});
        CHECK(outcome.problem == L"");
        CHECK(outcome.saved);
        if (outcome.saved) DeleteFileW(outcome.path.c_str());
        RemoveDirectoryW(setup.folder.c_str());
    }
}
