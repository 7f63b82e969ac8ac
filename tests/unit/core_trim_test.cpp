#include <doctest.h>

#include <cstring>
#include <string>
#include <vector>

#include "recorder/mp4_writer_core.h"
#include "trim/mp4_trim_core.h"
#include "trim/trim_timeline_core.h"

namespace {

class Bytes final : public trim::Source, public trim::Sink {
public:
    std::vector<uint8_t> data;
    uint64_t Size() const override { return data.size(); }
    bool Read(uint64_t offset, void* out, size_t size) override {
        REQUIRE(offset <= data.size());
        REQUIRE(size <= data.size() - offset);
        std::memcpy(out, data.data() + offset, size);
        return true;
    }
    bool Write(const void* bytes, size_t size) override {
        const auto* p = static_cast<const uint8_t*>(bytes);
        data.insert(data.end(), p, p + size);
        return true;
    }
};

// Three seconds of the test build's own recording: 30 pictures a second, each
// of one grey level (its number), with sound whose samples count the frames.
Bytes Recording(bool pausedAfterTheFirstSecond = false) {
    Bytes file;
    FragmentedMp4Writer writer({16, 16, 30, true, 1024}, [&](const uint8_t* data, size_t size) {
        return file.Write(data, size);
    });
    REQUIRE(writer.Begin());
    std::vector<uint8_t> picture(16 * 16 * 3 / 2);
    std::vector<int16_t> sound(2 * 1600);
    int64_t gap = 0;
    for (int i = 0; i < 90; ++i) {
        if (pausedAfterTheFirstSecond && i == 30) gap = 20'000'000;
        std::memset(picture.data(), i, 16 * 16);
        std::memset(picture.data() + 16 * 16, 128, 16 * 8);
        const int64_t time = gap + int64_t{i} * 10'000'000 / 30;
        REQUIRE(writer.AddVideoFrame(picture.data(), picture.size(), time, 10'000'000 / 30));
        for (size_t k = 0; k < sound.size(); ++k) sound[k] = static_cast<int16_t>(i);
        REQUIRE(writer.AddAudio(sound.data(), 1600, time));
    }
    REQUIRE(writer.Finish());
    return file;
}

trim::Movie Read(Bytes& file) {
    trim::Movie movie;
    std::wstring problem;
    REQUIRE_MESSAGE(trim::ReadMovie(file, movie, problem), std::string(problem.begin(), problem.end()));
    return movie;
}

std::vector<uint8_t> SampleBytes(Bytes& file, const trim::Sample& s) {
    return {file.data.begin() + static_cast<std::ptrdiff_t>(s.offset),
            file.data.begin() + static_cast<std::ptrdiff_t>(s.offset + s.size)};
}

}  // namespace

TEST_CASE("a fragmented recording is cut to a progressive copy of the same pictures and sound, from time zero") {
    Bytes original = Recording();
    const trim::Movie movie = Read(original);
    REQUIRE(movie.tracks.size() == 2);
    CHECK(movie.Video().samples.size() == 90);
    CHECK(movie.durationUs == 3'000'000);

    Bytes copy;
    trim::CutMade made;
    std::wstring problem;
    REQUIRE(trim::Cut(original, movie, 1000, 2000, copy, made, problem));
    CHECK(made.startUs == 1'000'000);
    CHECK(made.endUs == 2'000'000);
    CHECK(made.bytes == copy.data.size());
    // The index comes first.
    CHECK(std::memcmp(copy.data.data() + 4, "ftyp", 4) == 0);
    const uint32_t ftypSize = copy.data[3];
    CHECK(std::memcmp(copy.data.data() + ftypSize + 4, "moov", 4) == 0);

    const trim::Movie cut = Read(copy);
    REQUIRE(cut.tracks.size() == 2);
    const trim::Track& video = cut.Video();
    REQUIRE(video.samples.size() == 30);
    CHECK(video.samples[0].decodeTime == 0);
    CHECK(cut.durationUs == 1'000'000);
    // Picture 30 of the original is the copy's first, byte for byte.
    CHECK(SampleBytes(copy, video.samples[0]) == SampleBytes(original, movie.Video().samples[30]));
    CHECK(SampleBytes(copy, video.samples[29]) == SampleBytes(original, movie.Video().samples[59]));
    // The sound shown from the copy's start is the sound recorded with picture 30.
    const trim::Track& sound = cut.tracks[1];
    CHECK(sound.PresentationUs(0) <= 0);
    CHECK(sound.PresentationUs(sound.samples.size() - 1) < 1'000'000);
    const std::vector<uint8_t> first = SampleBytes(copy, sound.samples[0]);
    const int64_t skipped = sound.mediaStart * 4;  // stereo 16-bit frames
    REQUIRE(skipped + 2 <= static_cast<int64_t>(first.size()));
    CHECK(first[static_cast<size_t>(skipped)] == 30);
}

TEST_CASE("a paused recording keeps its gap, and an interrupted one its whole fragments") {
    Bytes paused = Recording(true);
    const trim::Movie movie = Read(paused);
    CHECK(movie.durationUs == 5'000'000);
    Bytes copy;
    trim::CutMade made;
    std::wstring problem;
    REQUIRE(trim::Cut(paused, movie, 500, 3500, copy, made, problem));
    const trim::Movie cut = Read(copy);
    // Pictures 15..29, then after the two seconds of pause, 30..44.
    REQUIRE(cut.Video().samples.size() == 30);
    CHECK(cut.Video().PresentationUs(15) - cut.Video().PresentationUs(14) == 2'033'333);

    // Cut off in the middle of a fragment: what is whole is read.
    Bytes cutOff = Recording();
    cutOff.data.resize(cutOff.data.size() * 2 / 3);
    const trim::Movie rest = Read(cutOff);
    CHECK(rest.Video().samples.size() > 50);
    CHECK(rest.Video().samples.size() < 62);
}

TEST_CASE("a key picture at or before the start, the end on a picture boundary") {
    // Key pictures every 30 pictures; the others depend on them.
    Bytes original = Recording();
    trim::Movie movie = Read(original);
    for (size_t i = 0; i < movie.tracks[0].samples.size(); ++i) movie.tracks[0].samples[i].sync = i % 30 == 0;
    Bytes copy;
    trim::CutMade made;
    std::wstring problem;
    REQUIRE(trim::Cut(original, movie, 1900, 2510, copy, made, problem));
    CHECK(made.startUs == 1'000'000);  // the key picture before 1.9 s
    CHECK(made.endUs == 2'533'333);    // the end of the picture shown at 2.51 s
    const trim::Movie cut = Read(copy);
    CHECK(cut.Video().samples.size() == 46);
    CHECK(cut.Video().samples[0].sync);

    // Empty samples (as a fuzzed file had) are written so that they read back.
    for (trim::Sample& s : movie.tracks[0].samples) s.size = 0;
    Bytes empty;
    REQUIRE(trim::Cut(original, movie, 0, 1000, empty, made, problem));
    CHECK(Read(empty).Video().samples.size() == 30);
}

TEST_CASE("files that cannot be trimmed are refused with a sentence") {
    std::wstring problem;
    trim::Movie movie;
    Bytes png;
    png.data = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    CHECK_FALSE(trim::ReadMovie(png, movie, problem));
    CHECK(problem == L"This file is not an MP4 video that Ostrel can trim.");

    Bytes empty;
    CHECK_FALSE(trim::ReadMovie(empty, movie, problem));
    CHECK(problem == L"This file is not an MP4 video that Ostrel can trim.");

    // A progressive copy whose chunk offset points past the file.
    Bytes original = Recording();
    const trim::Movie recorded = Read(original);
    Bytes copy;
    trim::CutMade made;
    REQUIRE(trim::Cut(original, recorded, 0, 1000, copy, made, problem));
    Bytes broken = copy;
    const std::string tag = "stco";
    auto at = std::search(broken.data.begin(), broken.data.end(), tag.begin(), tag.end());
    REQUIRE(at != broken.data.end());
    at[12] = 0x7F;  // the first chunk's offset, far beyond the file
    CHECK_FALSE(trim::ReadMovie(broken, movie, problem));
    CHECK(problem == L"This file is damaged: its index does not fit the file, so Ostrel can't trim it.");
    // A sample count that the table cannot hold.
    broken = copy;
    const std::string sizes = "stsz";
    at = std::search(broken.data.begin(), broken.data.end(), sizes.begin(), sizes.end());
    REQUIRE(at != broken.data.end());
    at[12] = 0x40;
    CHECK_FALSE(trim::ReadMovie(broken, movie, problem));
    CHECK_FALSE(problem.empty());

    // Empty, backward and outside ranges.
    Bytes out;
    for (const auto& [from, to] : std::vector<std::pair<int64_t, int64_t>>{{500, 500}, {900, 100}, {3000, 4000}, {-5, 100}}) {
        CHECK_FALSE(trim::Cut(original, recorded, from, to, out, made, problem));
        CHECK(problem == L"Choose a start before the end, within the recording's 3 seconds.");
    }
    CHECK(out.data.empty());
}

TEST_CASE("the trim timeline: the playhead on pictures, the part to keep between picture boundaries") {
    std::vector<int64_t> pictures;
    for (int64_t i = 0; i < 10; ++i) pictures.push_back(i * 100'000);
    trim::Timeline line(pictures, {0, 500'000}, 1'000'000);
    CHECK_FALSE(line.Changed());
    line.Step(3);
    CHECK(line.Playhead() == 300'000);
    line.SetStartHere();
    CHECK((line.Start() == 300'000 && line.End() == 1'000'000 && line.CutStart() == 0));
    line.Move(1'000'000);
    CHECK(line.Playhead() == 900'000);
    line.Step(-2);
    line.SetEndHere();  // keeps the picture shown
    CHECK(line.End() == 800'000);
    CHECK(line.Kept() == 500'000);
    CHECK(line.Changed());
    // An end before the start gives way, and so does a start after the end.
    line.MoveTo(150'000);
    CHECK(line.Playhead() == 100'000);
    line.SetEndHere();
    CHECK((line.Start() == 0 && line.End() == 200'000));
    line.MoveTo(650'000);
    line.SetStartHere();
    CHECK((line.Start() == 600'000 && line.End() == 1'000'000 && line.CutStart() == 500'000));
    // Handles stop a picture short of each other; the end goes to the nearest boundary.
    line.DragStart(2'000'000);
    CHECK(line.Start() == 900'000);
    line.DragEnd(-5);
    CHECK(line.End() == 1'000'000);
    line.DragStart(0);
    line.DragEnd(460'000);
    CHECK(line.End() == 500'000);
    line.DragEnd(440'000);
    CHECK(line.End() == 400'000);
}

TEST_CASE("the trim window's texts, pixels and keys") {
    CHECK(trim::LengthText(0) == L"0:00.0");
    CHECK(trim::LengthText(65'340'000) == L"1:05.3");
    CHECK(trim::LengthText(3'723'450'000) == L"1:02:03.4");
    CHECK(trim::KeptText(12'500'000, 184'000'000) == L"Keeping 0:12.5 of 3:04.0");
    CHECK(trim::XOfTime(0, 60'000'000, 600) == 0);
    CHECK(trim::XOfTime(60'000'000, 60'000'000, 600) == 600);
    CHECK(trim::XOfTime(90'000'000, 60'000'000, 600) == 600);
    CHECK(trim::TimeOfX(300, 60'000'000, 600) == 30'000'000);
    CHECK(trim::TimeOfX(-20, 60'000'000, 600) == 0);
    CHECK(trim::TrimActionForKey(0x25, true, false, false) == trim::TrimAction::BackSecond);
    CHECK(trim::TrimActionForKey(0x27, false, false, false) == trim::TrimAction::NextPicture);
    CHECK(trim::TrimActionForKey('O', false, false, false) == trim::TrimAction::SetEnd);
    CHECK(trim::TrimActionForKey('I', false, true, false) == trim::TrimAction::None);
}
