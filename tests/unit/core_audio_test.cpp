#include <doctest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "audio/audio_core.h"
#include "recorder/sound_mix_core.h"

namespace {
using Floats = std::vector<float>;

Floats Convert(const std::vector<uint8_t>& bytes, uint32_t frames, int32_t channels, SampleKind kind,
               bool silent = false, uint32_t channelMask = 0) {
    Floats out;
    AppendStereo(bytes.data(), frames, DownmixGains(channels, channelMask), kind, silent, out);
    return out;
}

std::vector<uint8_t> FloatBytes(const Floats& values) {
    std::vector<uint8_t> bytes(values.size() * 4);
    std::memcpy(bytes.data(), values.data(), bytes.size());
    return bytes;
}

// Stereo frames whose left values count up from `from`, so placement is visible.
Floats Tagged(int64_t from, int64_t frames) {
    Floats block;
    for (int64_t i = 0; i < frames; ++i) block.insert(block.end(), {static_cast<float>(from + i), 0.5f});
    return block;
}

// A recording from a counter start at 100.25 s (100-ns ticks), turned by hand
// every 10 ms; it is the clock and the writer. The computer's sound is a ramp
// delivered in 10 ms packets 20 ms late, whose frames tell when they were
// captured: the 16-bit mix of 48 kHz counter frame k reads k % 16000 + 1, so
// 0 is silence. The microphone delivers nothing.
struct SoundWorld : SoundClock, SoundSink {
    static constexpr int64_t kStart = 1'002'500'000;
    struct Source : SoundSource {
        Source(SoundWorld& world, bool ramp) : w(world), ramp(ramp) {}
        void Read(std::vector<float>& block, int64_t& endTime) override {
            if (onRead) onRead();
            endTime = 0;
            if (!ramp) return;
            for (const int64_t end = (w.now - 200000) / 100000 * 480; w.next < end; ++w.next) {
                const float v = static_cast<float>(w.next % 16000 + 2) / 32768.0f;
                block.insert(block.end(), {v, v});
            }
            endTime = w.next * 10000 / 48;
        }
        SoundWorld& w;
        bool ramp;
        std::function<void()> onRead;
    };

    int64_t Counter() override { return now; }
    int64_t Frequency() override { return 10'000'000; }
    int64_t StartCounter() override { return kStart; }
    ClockSnapshot PauseState() override { return pause.Snapshot(); }
    SoundWrite Write(const int16_t* frames, size_t count, int64_t time, int64_t duration) override {
        const SoundWrite answer = answers.empty() ? SoundWrite::Written : answers.front();
        if (!answers.empty()) answers.erase(answers.begin());
        if (answer != SoundWrite::Written) return answer;
        const auto n = static_cast<int64_t>(count);
        if (time != SampleTime(static_cast<int64_t>(left.size())) || duration != SampleTime(n)) ++misplaced;
        pieces.push_back(n);
        for (size_t i = 0; i < count; ++i) left.push_back(frames[i * 2]);
        return SoundWrite::Written;
    }

    void RunUntil(int64_t counter) {
        while (now < counter) {
            now += 100000;
            REQUIRE(turns.Turn(false));
        }
    }
    // Positions in [from, to) not carrying what was captured `offset` frames
    // of the counter after their own place.
    int64_t Foreign(int64_t from, int64_t to, int64_t offset) const {
        int64_t wrong = 0;
        for (int64_t p = from; p < to; ++p)
            if (left[static_cast<size_t>(p)] != (p + offset + kStart * 48 / 10000) % 16000 + 1) ++wrong;
        return wrong;
    }

    int64_t now = kStart;
    int64_t next = kStart * 48 / 10000;  // counter frame of the ramp's next frame
    PauseClock pause;
    Source computer{*this, true};
    Source microphone{*this, false};
    std::vector<SoundWrite> answers;  // the next writes' answers; Written after them
    std::vector<int16_t> left;        // the stream's left channel
    std::vector<int64_t> pieces;
    int64_t misplaced = 0;            // pieces not stamped where the stream had got to
    std::vector<int64_t> clicks;
    SoundTurns turns{*this, &computer, &microphone, *this, true, [this](int64_t us) { clicks.push_back(us); }};
};
}  // namespace

TEST_CASE("device samples become float stereo") {
    std::vector<uint8_t> f32(8);
    const float pair[2] = {0.25f, -0.75f};
    std::memcpy(f32.data(), pair, 8);
    CHECK(Convert(f32, 1, 2, KindOf(true, 32)) == Floats{0.25f, -0.75f});
    // Mono repeats its one channel.
    CHECK(Convert({0x00, 0xC0, 0xFF, 0x3F}, 2, 1, KindOf(false, 16)) ==
          Floats{-0.5f, -0.5f, 16383 / 32768.0f, 16383 / 32768.0f});
    CHECK(Convert({0x00, 0x00, 0x40, 0x00, 0x00, 0x80}, 1, 2, KindOf(false, 24)) == Floats{0.5f, -1.0f});
    CHECK(Convert({0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x20}, 1, 2, KindOf(false, 32)) ==
          Floats{-0.5f, 0.25f});
    // Surround folds down: centre into both sides and side or back channels
    // into theirs at -3 dB, the low-frequency channel left out. Frames stay
    // a whole frame of channels apart.
    const auto near = [](const Floats& got, const Floats& want) {
        bool same = got.size() == want.size();
        for (size_t i = 0; same && i < got.size(); ++i) same = std::fabs(got[i] - want[i]) < 1e-5f;
        return same;
    };
    const float h = 0.70710678f;
    // 5.1 in the order Windows gives it: FL FR FC LFE BL BR; each side gets
    // 1 + 2h of gains before they are scaled to 1.
    const float five = 1 / (1 + 2 * h), seven = 1 / (1 + 3 * h);
    const Floats fiveOne = {0.5f, -0.25f, 0.4f, 0.9f, 0.2f, -0.2f, 0, 0, 0, 0.9f, 0, 0};
    CHECK(near(Convert(FloatBytes(fiveOne), 2, 6, SampleKind::Float32),
               Floats{(0.5f + 0.4f * h + 0.2f * h) * five, (-0.25f + 0.4f * h - 0.2f * h) * five, 0, 0}));
    // The same with side channels named by the device's mask (0x60F).
    CHECK(near(Convert(FloatBytes(fiveOne), 2, 6, SampleKind::Float32, false, 0x60F),
               Floats{(0.5f + 0.4f * h + 0.2f * h) * five, (-0.25f + 0.4f * h - 0.2f * h) * five, 0, 0}));
    // 7.1: FL FR FC LFE BL BR SL SR, dialogue alone in the centre.
    CHECK(near(Convert(FloatBytes({0, 0, 0.5f, 0, 0.1f, 0, 0, 0.3f}), 1, 8, SampleKind::Float32),
               Floats{(0.5f * h + 0.1f * h) * seven, (0.5f * h + 0.3f * h) * seven}));
    // Every channel at full scale, in phase: no side goes past full scale,
    // and the centre alone is still heard on both.
    for (const auto& [channels, mask] : {std::pair{6, 0u}, std::pair{8, 0u}, std::pair{6, 0x60Fu}}) {
        const Floats full = Convert(FloatBytes(Floats(static_cast<size_t>(channels), 1.0f)), 1, channels, SampleKind::Float32,
                                    false, mask);
        CHECK((full[0] <= 1.0f + 1e-6f && full[1] <= 1.0f + 1e-6f && full[0] > 0.9f));
        Floats centre(static_cast<size_t>(channels), 0.0f);
        centre[2] = 1.0f;
        const Floats heard = Convert(FloatBytes(centre), 1, channels, SampleKind::Float32, false, mask);
        CHECK((heard[0] > 0.2f && heard[0] == heard[1]));
    }
    // A layout of unknown speakers keeps its first two channels as left and right.
    CHECK(near(Convert(FloatBytes({0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f}), 1, 7, SampleKind::Float32),
               Floats{0.1f, 0.2f}));
    CHECK(Convert({0x00, 0x40, 0x00, 0x40}, 1, 2, SampleKind::Int16, true) == Floats{0, 0});
    CHECK(KindOf(true, 64) == SampleKind::Unsupported);
    CHECK(Convert({1, 2, 3, 4}, 2, 2, KindOf(false, 8)) == Floats(4, 0.0f));
    CHECK(Convert({1, 2}, 1, 0, SampleKind::Int16).empty());
}

TEST_CASE("resampling to 48 kHz") {
    LinearResampler r;
    r.Reset(44100);
    for (int i = 0; i < 44100; ++i) r.pending.insert(r.pending.end(), {float(i), -float(i)});
    Floats block;
    const int64_t end = r.Drain(block, 10'000'000);
    const int64_t made = static_cast<int64_t>(block.size() / 2);
    const double step = 44100 / 48000.0;
    CHECK(std::abs(made - 48000) <= 3);
    CHECK(block[60000] == doctest::Approx(30000 * step).epsilon(1e-6));  // a ramp stays a ramp
    CHECK(block[60001] == doctest::Approx(-30000 * step).epsilon(1e-6));
    // The time returned is just past the last frame made, not past the input.
    CHECK(std::abs(end - std::llround(made * step / 44100 * 1e7)) <= 1);
    CHECK(r.pending.size() <= 4);

    r.Reset(44100);
    r.pending = {0.1f, 0.2f};
    block.clear();
    CHECK(r.Drain(block, 5'000'000) == 0);
    CHECK((block.empty() && r.pending.size() == 2));
}

TEST_CASE("sync tone bursts at whole seconds") {
    SyncTone tone;
    const int64_t start = 1'234'567'890;  // 123.456789 s, so 124 s falls in the first second
    tone.Start(start);
    Floats block;
    const int64_t end = tone.Read(start + 10'000'000, block);
    const int64_t made = static_cast<int64_t>(block.size() / 2);
    CHECK(made >= 47299);
    CHECK(made <= 47615);
    CHECK(end == start + static_cast<int64_t>(made * 1e7 / 48096));

    int64_t loud = 0;
    int64_t misplaced = 0;
    for (int64_t i = 0; i < made; ++i) {
        if (block[2 * i] != block[2 * i + 1]) ++misplaced;
        if (block[2 * i] == 0.0f) continue;
        ++loud;
        const double s = (i * 1e7 / 48096 + start) / 1e7;
        if (s - std::floor(s) >= 0.01) ++misplaced;
    }
    CHECK(misplaced == 0);
    CHECK((loud > 470 && loud <= 481));

    // Started 4 ms into a burst: the rest of that burst is not played.
    tone.Start(1'240'040'000);
    block.clear();
    tone.Read(1'240'040'000 + 10'000'000, block);
    CHECK(std::all_of(block.begin(), block.begin() + 2 * 400, [](float v) { return v == 0.0f; }));
}

TEST_CASE("placing blocks on the timeline") {
    AudioTrack t;
    Floats b = Tagged(1, 480);
    t.Place(b, 1000);
    CHECK((b.empty() && t.start == 520 && t.Left(520) == 1.0f && t.Right(999) == 0.5f));
    CHECK((t.Left(519) == 0.0f && t.Left(1000) == 0.0f));
    b = Tagged(1000, 480);

    // Blocks of 10 ms that keep to an offset for the settling moment.
    const auto keep = [&](int64_t endPos, int blocks) {
        for (int i = 0; i < blocks; ++i, endPos += 480) {
            b = Tagged(10000 + 480 * i, 480);
            t.Place(b, endPos);
        }
    };
    SUBCASE("a skipped 10 ms that lasts becomes silence where it was skipped") {
        keep(1000 + 960, 4);
        CHECK(t.Count() == 2400);
        keep(1000 + 960 + 4 * 480, 2);
        CHECK((t.Count() == 3840 && t.Right(1000) == 0.0f && t.Right(1479) == 0.0f && t.Left(1480) == 10000.0f));
    }
    SUBCASE("one late stamp, then blocks on time again: the sound stays unbroken") {
        keep(1000 + 480 + 480, 1);
        keep(1000 + 960, 8);
        CHECK((t.Count() == 4800 && t.Left(1000) == 10000.0f && t.Left(1480) == 10000.0f));
        t.TrimBefore(1000);
        for (int64_t p = 1000; p < 1000 + t.Count(); ++p) CHECK(t.Left(p) != 0.0f);
    }
    SUBCASE("overlap beyond 5 ms that lasts is cut where it began, less is kept") {
        keep(1000 + 480 - 300, 6);
        CHECK((t.Count() == 3060 && t.Left(1000) == 10300.0f && t.Left(1179) == 10479.0f && t.Left(1180) == 10480.0f));
        b = Tagged(2000, 480);
        t.Place(b, 3580 + 480 - 100);
        CHECK((t.Count() == 3540 && t.Left(3580) == 2000.0f));
    }
    SUBCASE("ten seconds at most, even across an hour's gap") {
        int64_t endPos = 1000;
        for (int i = 0; i < 1250; ++i, endPos += 480) {
            b = Tagged(endPos, 480);
            t.Place(b, endPos + 480);
        }
        CHECK((t.Count() == kMaxTrackFrames && t.start == endPos - kMaxTrackFrames && t.Left(t.start) == float(t.start)));
        b = Tagged(7, 480);
        endPos += 48000 * 3600;
        t.Place(b, endPos);
        CHECK((t.Count() == kMaxTrackFrames && t.start == endPos - kMaxTrackFrames && t.Left(endPos - 480) == 7.0f));
        CHECK(t.frames.size() <= 4 * kMaxTrackFrames);
    }
    SUBCASE("trimming the front and dropping the end") {
        t.TrimBefore(600);
        CHECK((t.start == 600 && t.Left(600) == 81.0f));
        t.DropFrom(900);
        CHECK((t.Count() == 300 && t.Left(899) == 380.0f && t.Left(900) == 0.0f));
        t.TrimBefore(5000);
        CHECK(t.Count() == 0);
        t.Place(b, 9000);
        CHECK(t.start == 8520);
    }
}

TEST_CASE("a 0.2 % fast device clock stays within 5 ms") {
    AudioTrack t;
    int64_t worst = 0;
    for (int64_t period = 1; period <= 6000; ++period) {
        Floats b = Tagged((period - 1) * 481, 481);
        t.Place(b, period * 480);
        worst = std::max(worst, std::abs(t.start + t.Count() - period * 480));
    }
    // The end runs past it for the settling moment until the correction lands.
    CHECK(worst <= 250);
    // Every kept frame also sits near where its device time belongs.
    double off = 0;
    for (int64_t p = t.start; p < t.start + t.Count(); ++p)
        off = std::max(off, std::abs(double(p + 1) - (t.Left(p) + 1) * 480.0 / 481.0));
    CHECK(off <= 241.0);
}

TEST_CASE("mixing clips instead of wrapping") {
    AudioTrack a;
    AudioTrack b;
    Floats block = {1.0f, -1.0f, 0.5f, -0.25f};
    a.Place(block, 2);
    block = {1.0f, -1.0f, 0.25f, -0.5f};
    b.Place(block, 2);
    int16_t out[6] = {};
    MixToPcm16(a, b, 0, 3, out);
    // 0.75 * 32767 truncates to 24575; past both tracks is silence.
    CHECK(std::vector<int16_t>(out, out + 6) == std::vector<int16_t>{32767, -32767, 24575, -24575, 0, 0});

    CHECK(PositionOfTime(30'000'000, 10'000'000, 5'000'000) == 72000);
    CHECK(SampleTime(72000) == 15'000'000);
}

TEST_CASE("sound around a pause whose resume lands in the middle of a turn") {
    SoundWorld w;
    w.RunUntil(1'017'500'000);  // 101.75 s: 1.5 s recorded
    w.pause.Pause(w.now);
    w.RunUntil(1'060'000'000);
    // The resume at 106.01 s comes while the microphone is being read.
    w.microphone.onRead = [&w] { w.pause.Resume(w.now); };
    w.RunUntil(1'087'500'000);  // stop at 108.75 s: 4.24 s recorded
    REQUIRE(w.turns.Turn(true));

    // Right up to the pause point at 72000, the device's last 20 ms before it
    // included, then on from the resume with nothing of the 4.26 s pause.
    REQUIRE(w.left.size() == 203520);
    CHECK(w.misplaced == 0);
    CHECK(w.Foreign(0, 72000, 0) == 0);
    CHECK(w.Foreign(72000, 203520 - 960, 204480) == 0);
    // Bursts at the counter's whole seconds 101, 107 and 108; none from the pause.
    CHECK(w.clicks == std::vector<int64_t>{750000, 2490000, 3490000});
}

TEST_CASE("the writer gets a second a piece at most, and may ask for sound again") {
    SoundWorld w;
    w.RunUntil(1'012'500'000);  // 1 s recorded

    SUBCASE("a three-second stall") {
        w.now += 30'000'000;
        REQUIRE(w.turns.Turn(false));
        w.RunUntil(1'047'500'000);
        REQUIRE(w.turns.Turn(true));
        REQUIRE(w.left.size() == 216000);  // 4.5 s
        CHECK(*std::max_element(w.pieces.begin(), w.pieces.end()) == 48000);
        CHECK(w.misplaced == 0);
        CHECK(w.Foreign(0, 216000 - 960, 0) == 0);
    }
    SUBCASE("Retry keeps the sound, running and at a pause; Failed ends") {
        w.answers = {SoundWrite::Retry, SoundWrite::Retry};
        w.RunUntil(1'017'500'000);
        w.pause.Pause(w.now);  // 1.5 s recorded
        w.answers = {SoundWrite::Retry};
        w.RunUntil(1'022'500'000);
        w.pause.Resume(w.now);  // after 0.5 s
        w.RunUntil(1'027'500'000);
        CHECK(w.misplaced == 0);
        CHECK(w.Foreign(0, 72000 - 960, 0) == 0);
        CHECK(w.Foreign(72000, static_cast<int64_t>(w.left.size()), 24000) == 0);
        const size_t size = w.left.size();

        w.answers = {SoundWrite::Retry};
        CHECK_FALSE(w.turns.Turn(true));
        w.answers = {SoundWrite::Failed};
        w.now += 100000;
        CHECK_FALSE(w.turns.Turn(false));
        CHECK(w.left.size() == size);
    }
}

TEST_CASE("a sound source whose device goes away is opened again, and the user hears once of each change") {
    SourceWatch watch;
    CHECK(watch.OpenDue(0));
    CHECK(watch.Opened() == SourceWatch::Notice::None);  // the start's
    CHECK_FALSE(watch.OpenDue(0));
    CHECK(watch.CheckDue(0));
    CHECK_FALSE(watch.CheckDue(SourceWatch::kCheckMs - 1));
    CHECK(watch.CheckDue(SourceWatch::kCheckMs));

    // Lost: opened again at once. Windows may not have a new default yet:
    // the attempts of the next moment are quicker and not told.
    watch.DeviceLost(10000);
    CHECK(watch.OpenDue(10000));
    CHECK(watch.OpenFailed(10000) == SourceWatch::Notice::None);
    CHECK_FALSE(watch.OpenDue(10000 + SourceWatch::kSettleRetryMs - 1));
    CHECK(watch.OpenDue(10000 + SourceWatch::kSettleRetryMs));
    CHECK(watch.OpenFailed(11499) == SourceWatch::Notice::None);
    CHECK(watch.OpenDue(10000 + SourceWatch::kSettleMs));
    // Still nothing when that moment is over: told once, tried every second.
    CHECK(watch.OpenFailed(11500) == SourceWatch::Notice::Missing);
    CHECK_FALSE(watch.OpenDue(11500 + SourceWatch::kRetryMs - 1));
    CHECK(watch.OpenDue(11500 + SourceWatch::kRetryMs));
    CHECK(watch.OpenFailed(12500) == SourceWatch::Notice::None);
    CHECK(watch.Opened() == SourceWatch::Notice::Changed);
    CHECK(watch.IsOpen());
    // A device that comes within the moment: one notice of the change.
    watch.DeviceLost(15000);
    CHECK(watch.OpenFailed(15000) == SourceWatch::Notice::None);
    CHECK(watch.Opened() == SourceWatch::Notice::Changed);
    // A new default device: one notice, no other.
    watch.DeviceLost(20000);
    CHECK(watch.Opened() == SourceWatch::Notice::Changed);

    // A source that could not open at the start: the start's notice, then retries.
    SourceWatch missing;
    CHECK(missing.OpenFailed(0) == SourceWatch::Notice::Missing);
    CHECK(missing.OpenDue(SourceWatch::kRetryMs));
    CHECK(missing.Opened() == SourceWatch::Notice::Changed);
}
