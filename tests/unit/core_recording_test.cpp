#include <doctest.h>

#include <atomic>
#include <cstddef>
#include <thread>
#include <vector>

#include "recorder/nv12_core.h"
#include "recorder/recording_rules_core.h"

namespace {
bool operator==(const OutputSize& a, const OutputSize& b) { return a.width == b.width && a.height == b.height; }
}  // namespace

TEST_CASE("output size: downscale to the height limit only, even sides") {
    CHECK(ChooseOutputSize(2560, 1440, 720) == OutputSize{1280, 720});
    CHECK(ChooseOutputSize(2560, 1440, 1080) == OutputSize{1920, 1080});
    CHECK(ChooseOutputSize(2560, 1440, 0) == OutputSize{2560, 1440});
    CHECK(ChooseOutputSize(1366, 768, 720) == OutputSize{1280, 720});
    CHECK(ChooseOutputSize(1920, 1080, 1080) == OutputSize{1920, 1080});
    CHECK(ChooseOutputSize(1920, 1080, 720) == OutputSize{1280, 720});
    CHECK(ChooseOutputSize(1364, 766, 0) == OutputSize{1364, 766});
    CHECK(ChooseOutputSize(1364, 766, 720) == OutputSize{1282, 720});
    CHECK(ChooseOutputSize(1364, 766, 1080) == OutputSize{1364, 766});
}

TEST_CASE("bit rates by height and frame rate") {
    CHECK(VideoBitRate(720, 30) == 4000000u);
    CHECK(VideoBitRate(1080, 60) == 12000000u);
    CHECK(VideoBitRate(1440, 15) == 8400000u);
    CHECK(VideoBitRate(720, 15) == 2400000u);
    CHECK(VideoBitRate(721, 59) == 8000000u);
}

TEST_CASE("bars only when the aspects differ by more than 0.01") {
    auto p = LetterboxPlacement(1280, 720, 1280, 720);
    CHECK((p.left == 0 && p.top == 0 && p.right == 1280 && p.bottom == 720));
    p = LetterboxPlacement(1920, 800, 1280, 720);  // wider source: bars above and below
    CHECK((p.left == 0 && p.right == 1280 && p.top == 93 && p.bottom == 93 + 533));
    p = LetterboxPlacement(1024, 768, 1280, 720);  // narrower source: bars left and right
    CHECK((p.top == 0 && p.bottom == 720 && p.left == 160 && p.right == 1120));
    p = LetterboxPlacement(1366, 768, 1280, 720);  // 1.7786 against 1.7778: no bars
    CHECK((p.left == 0 && p.right == 1280));
}

TEST_CASE("the recording clock leaves pauses out") {
    const int64_t f = 10000000;  // a counter in 100-ns ticks
    CHECK(FrameInterval(30) == 333333);
    CHECK(FrameInterval(60) == 166666);
    CHECK(FrameInterval(15) == 666666);
    CHECK(TicksToHundredNs(3, 3) == 10000000);

    // Started at 2 s; each row pauses or resumes at `at` (or not) and reads the clock at `now`.
    enum Op { None, Pause, Resume };
    const struct {
        Op op;
        int64_t at;
        bool changes;
        int64_t now, time;
    } rows[] = {
        {None, 0, false, 1, 0},  {None, 0, false, 5, 3},
        {Pause, 5, true, 7, 3},    // stands at the pause point
        {Pause, 6, false, 8, 3},   // a second pause keeps the first one's start
        {Resume, 9, true, 10, 4},  // goes on from where it stood
        {Resume, 10, false, 11, 5}, {Pause, 12, true, 20, 6}, {Resume, 13, true, 14, 7},
    };
    PauseClock clock;
    for (const auto& row : rows) {
        CAPTURE(row.now);
        CHECK((row.op == Pause ? clock.Pause(row.at * f) : row.op == Resume && clock.Resume(row.at * f)) == row.changes);
        CHECK(RecordingTimeAt(row.now * f, 2 * f, clock.Snapshot(), f) == row.time * f);
    }
    clock.Reset();
    CHECK(RecordingTimeAt(5 * f, 2 * f, clock.Snapshot(), f) == 3 * f);
}

TEST_CASE("the pause state is read whole while another thread pauses and resumes") {
    // Each pause lasts one tick, so a whole reading's pause start follows from its pause total.
    PauseClock clock;
    std::atomic<bool> done{false};
    std::thread changer([&] {
        for (int64_t k = 0; k < 100000; ++k) {
            clock.Pause(2 * k + 1);
            clock.Resume(2 * k + 2);
        }
        done = true;
    });
    int64_t torn = 0;
    while (!done.load()) {
        const ClockSnapshot s = clock.Snapshot();
        if (s.pauseCounter != (s.paused ? 2 * s.pausedTicks + 1 : 0)) ++torn;
    }
    changer.join();
    CHECK(torn == 0);
}

TEST_CASE("pacing with a fake clock: sleep, write on time, catch up after a stall") {
    const int64_t interval = 333333;
    PaceStep s = PaceFrame(100000, 333333, interval);
    CHECK_FALSE(s.write);
    CHECK(s.wait == 233333);
    s = PaceFrame(333000, 333333, interval);
    CHECK((!s.write && s.wait == 333));
    // However far ahead the next frame is, one wait lasts at most one interval.
    s = PaceFrame(0, 100 * interval, interval);
    CHECK((!s.write && s.wait == interval));
    // Up to five intervals late: written back to back, nothing skipped.
    s = PaceFrame(333333 * 6, 333333, interval);
    CHECK((s.write && s.skipped == 0 && s.nextTime == 333333));
    // A one-second stall at 30 fps: 30 slots skipped, stamped at the last boundary.
    s = PaceFrame(10000000 + 333333, 333333, interval);
    CHECK(s.write);
    CHECK(s.skipped == 30);
    CHECK(s.nextTime == 10333333 - 10333333 % interval);

    // A still screen and steady clock: a frame per interval with stamps n x interval.
    int64_t next = 0;
    std::vector<int64_t> stamps;
    for (int64_t now = 0; now < 10 * interval; now += 10000) {
        const PaceStep step = PaceFrame(now, next, interval);
        if (!step.write) continue;
        stamps.push_back(step.nextTime);
        next = step.nextTime + interval;
    }
    REQUIRE(stamps.size() == 10);
    for (std::size_t n = 0; n < stamps.size(); ++n) CHECK(stamps[n] == static_cast<int64_t>(n) * interval);
}

TEST_CASE("the picture is given up after exactly two seconds of failures, or at once when the device is gone") {
    PictureWatch watch;
    // Failures from 5 s of recording time on: still hoped for until 7 s.
    CHECK_FALSE(watch.Failed(50'000'000, false));
    CHECK_FALSE(watch.Failed(69'999'999, false));
    CHECK(watch.Failed(70'000'000, false));
    // A picture that gets through starts the count again.
    PictureWatch again;
    CHECK_FALSE(again.Failed(10'000'000, false));
    again.Succeeded();
    CHECK_FALSE(again.Failed(25'000'000, false));
    CHECK_FALSE(again.Failed(44'999'999, false));
    CHECK(again.Failed(45'000'000, false));
    // A removed device is not waited for.
    PictureWatch removed;
    CHECK(removed.Failed(1, true));
}

TEST_CASE("the first second's copies stay within their bound, and once given up stay given up") {
    EarlyWrites early;
    const std::vector<uint8_t> picture(kEarlyWritesLimit / 2, 7);
    CHECK(early.Keep(0, picture.data(), picture.size(), 0, 333333));
    CHECK(early.Keep(1, picture.data(), picture.size(), 0, 100000));
    CHECK_FALSE(early.Keep(1, picture.data(), 4, 100000, 100000));
    CHECK_FALSE(early.Complete());
    CHECK(early.Writes().empty());
    CHECK_FALSE(early.Keep(1, picture.data(), 4, 200000, 100000));
    early.Reset();
    CHECK(early.Keep(0, picture.data(), 4, 0, 333333));
    REQUIRE(early.Writes().size() == 1);
    CHECK(early.Writes()[0].bytes == std::vector<uint8_t>(4, 7));
}

TEST_CASE("sync marker: white for the first 100 ms of each counter second") {
    CHECK(SyncMarkerWhite(0, 0, 0));
    CHECK(SyncMarkerWhite(999999, 0, 0));
    CHECK_FALSE(SyncMarkerWhite(1000000, 0, 0));
    CHECK(SyncMarkerWhite(500000, 9500000, 0));
    CHECK_FALSE(SyncMarkerWhite(500000, 9000000, 0));
    CHECK(SyncMarkerWhite(0, 9500000, 600000));
}

TEST_CASE("NV12 conversion: BT.709 limited range, neutral chroma for grey, black bars") {
    // 4 x 2 source: white, black, pure red, pure blue columns.
    const uint8_t bgra[] = {255, 255, 255, 0, 0, 0, 0, 0, 0, 0, 255, 0, 255, 0, 0, 0,
                            255, 255, 255, 0, 0, 0, 0, 0, 0, 0, 255, 0, 255, 0, 0, 0};
    Nv12Converter converter;
    converter.Build(4, 2, 4, 2);
    std::vector<uint8_t> out(12);
    converter.Convert(bgra, 16, out.data());
    CHECK(std::vector<uint8_t>(out.begin(), out.begin() + 4) == std::vector<uint8_t>{235, 16, 63, 32});
    // Chroma of the white+black pair is neutral; of red+blue it averages the two.
    CHECK(out[8] == 128);
    CHECK(out[9] == 128);

    // A 2 x 2 grey source into a 4 x 2 frame: bars left and right are black.
    const uint8_t grey[] = {128, 128, 128, 0, 128, 128, 128, 0, 128, 128, 128, 0, 128, 128, 128, 0};
    converter.Build(2, 2, 4, 2);
    converter.Convert(grey, 8, out.data());
    CHECK(std::vector<uint8_t>(out.begin(), out.begin() + 4) == std::vector<uint8_t>{16, 126, 126, 16});
    CHECK(out[8] == 128);
    CHECK(out[9] == 128);
}
