#include <doctest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "recorder/mp4_recovery_core.h"
#include "recorder/h264_pcm_core.h"
#include "recorder/mp4_writer_core.h"
#include "recorder/nv12_core.h"

namespace {

uint32_t Be32(const std::vector<uint8_t>& f, size_t at) {
    return uint32_t{f[at]} << 24 | uint32_t{f[at + 1]} << 16 | uint32_t{f[at + 2]} << 8 | f[at + 3];
}

// The box types in [begin, end), descending into plain containers; sizes must tile the range exactly.
std::string Walk(const std::vector<uint8_t>& f, size_t begin, size_t end) {
    std::string seen;
    while (begin < end) {
        const uint32_t size = Be32(f, begin);
        REQUIRE(size >= 8);
        REQUIRE(begin + size <= end);
        const std::string type(f.begin() + begin + 4, f.begin() + begin + 8);
        seen += type + " ";
        if (std::string("moov trak mdia minf dinf stbl mvex moof traf").find(type) != std::string::npos)
            seen += "[ " + Walk(f, begin + 8, begin + size) + "] ";
        begin += size;
    }
    return seen;
}

}  // namespace

TEST_CASE("exp-Golomb codes and the I_PCM macroblock header") {
    std::vector<uint8_t> out;
    mp4::BitWriter w(out);
    w.Ue(0);  // 1
    w.Ue(1);  // 010
    w.Ue(3);  // 00100
    w.Se(-1);  // 011
    w.Trailing();
    CHECK(out == std::vector<uint8_t>{0xA2, 0x38});
    out.clear();
    w.Ue(25);  // 000011010 then alignment zeros: the two bytes written before every later macroblock
    w.AlignZero();
    CHECK(out == std::vector<uint8_t>{0x0D, 0x00});
}

TEST_CASE("emulation prevention") {
    std::vector<uint8_t> buf{0x65, 0, 0, 1, 0, 0, 0, 0, 5, 0, 0, 4, 0, 0};
    std::vector<size_t> spots;
    buf.resize(mp4::EscapeInPlace(buf, 1, buf.size(), spots));
    CHECK(buf == std::vector<uint8_t>{0x65, 0, 0, 3, 1, 0, 0, 3, 0, 0, 5, 0, 0, 4, 0, 0, 3});
    std::vector<uint8_t> clean{1, 0, 2, 0, 0, 9};
    CHECK(mp4::EscapeInPlace(clean, 0, clean.size(), spots) == 6);
}

TEST_CASE("the stand-in's pictures read back as they were written, and nothing else is taken") {
    // 40 x 20: macroblocks cut off at the right and the bottom.
    const uint32_t w = 40, h = 20;
    std::vector<uint8_t> nv12(w * h * 3 / 2);
    for (size_t i = 0; i < nv12.size(); ++i) nv12[i] = static_cast<uint8_t>(16 + (i * 7) % 220);
    std::vector<uint8_t> frame, header, back;
    std::vector<size_t> spots;
    for (uint32_t id : {0u, 1u}) {
        uint32_t idr = id;
        const size_t size = mp4::EncodeIdrPcm(nv12.data(), w, h, idr, frame, header, spots);
        CHECK((mp4::DecodeIdrPcm(frame.data(), size, w, h, back) && back == nv12));
        CHECK(!mp4::DecodeIdrPcm(frame.data(), size - 1, w, h, back));
        CHECK(!mp4::DecodeIdrPcm(frame.data(), size, w + 16, h, back));
        std::vector<uint8_t> other(frame.begin(), frame.begin() + static_cast<long>(size));
        other[4] = 0x41;  // a picture that needs another to be decoded
        CHECK(!mp4::DecodeIdrPcm(other.data(), other.size(), w, h, back));
    }
    // White and black at video levels, and a red, to the screen's colours.
    std::vector<uint8_t> two{235, 16, 235, 16, 128, 128}, bgra(16);
    Nv12ToBgra(two.data(), 2, 2, bgra.data());
    CHECK(std::vector<uint8_t>(bgra.begin(), bgra.begin() + 8) == std::vector<uint8_t>{255, 255, 255, 255, 0, 0, 0, 255});
    std::vector<uint8_t> red{63, 63, 63, 63, 102, 240};  // BT.709 limited red
    Nv12ToBgra(red.data(), 2, 2, bgra.data());
    CHECK((bgra[0] <= 2 && bgra[1] <= 2 && bgra[2] >= 253));
}

TEST_CASE("levels follow the picture size and rate") {
    CHECK(mp4::LevelFor(1920, 1080, 30) == 40);
    CHECK(mp4::LevelFor(1920, 1080, 60) == 42);
    CHECK(mp4::LevelFor(3840, 2160, 30) == 51);
}

TEST_CASE("boxes nest, and a fragment's offsets point at its samples") {
    std::vector<uint8_t> file;
    FragmentedMp4Writer writer({18, 18, 30, true}, [&](const uint8_t* data, size_t size) {
        file.insert(file.end(), data, data + size);
        return true;
    });
    REQUIRE(writer.Begin());
    CHECK(Walk(file, 0, file.size()) ==
          "ftyp moov [ mvhd trak [ tkhd mdia [ mdhd hdlr minf [ vmhd dinf [ dref ] stbl [ stsd stts stsc stco stsz ] "
          "] ] ] trak [ tkhd mdia [ mdhd hdlr minf [ smhd dinf [ dref ] stbl [ stsd stts stsc stco stsz ] ] ] ] "
          "mvex [ trex trex ] ] ");
    // The picture's colours for players that read the container: BT.709 at video levels.
    const std::string header(file.begin(), file.end());
    const size_t colr = header.find("colr");
    REQUIRE(colr != std::string::npos);
    CHECK(Be32(file, colr - 4) == 19);
    CHECK(header.substr(colr + 4, 11) == std::string("nclx\0\1\0\1\0\1\0", 11));
    const size_t moof = file.size();

    const std::vector<int16_t> sound(2 * 100, -2);
    CHECK(writer.AddAudio(sound.data(), 100, 0));
    const std::vector<uint8_t> black(18 * 18 * 3 / 2, 0);  // zeros must become 1
    CHECK(writer.AddVideoFrame(black.data(), black.size(), 0, 333333));
    CHECK(Walk(file, moof, file.size()) ==
          "moof [ mfhd traf [ tfhd tfdt trun ] traf [ tfhd tfdt trun ] ] mdat ");

    // The video trun's data offset (from the moof) lands on the length-prefixed IDR slice.
    const std::string bytes(file.begin(), file.end());
    const size_t trun = bytes.find("trun", moof);
    const size_t nal = moof + Be32(file, trun + 12);
    const size_t nalSize = Be32(file, nal);
    CHECK(file[nal + 4] == 0x65);
    CHECK(Be32(file, trun + 20) == nalSize + 4);  // sample size
    // 4 macroblocks of 384 samples, all raised to 1, so no start code can appear.
    size_t ones = 0;
    for (size_t i = nal + 5; i < nal + 4 + nalSize; ++i) ones += file[i] == 1;
    CHECK(ones >= 4 * 384);
    CHECK(bytes.find(std::string("\0\0\1", 3), nal + 5) > nal + 4 + nalSize);
    // The sound follows the picture in the same mdat.
    const size_t audioTrun = bytes.find("trun", trun + 4);
    CHECK(Be32(file, audioTrun + 8) == 100);
    CHECK(moof + Be32(file, audioTrun + 12) == nal + 4 + nalSize);
    CHECK(file.size() == nal + 4 + nalSize + 400);
    CHECK(writer.Finish());
    CHECK_FALSE(writer.AddVideoFrame(black.data(), black.size(), 1, 1));

    // Recovery keeps whole fragments only: a cut in a moof or its mdat drops
    // that fragment. (The one fragment twice makes a recording of two.)
    const size_t second = file.size();
    file.insert(file.end(), file.begin() + static_cast<ptrdiff_t>(moof), file.end());
    auto playable = [&](uint64_t size) {
        return mp4::PlayableLength(size, [&](uint64_t at, uint8_t* out, size_t n) {
            std::copy_n(file.begin() + static_cast<ptrdiff_t>(at), n, out);
            return true;
        });
    };
    auto picture = [&](uint64_t size) {
        return mp4::PictureIn(size, [&](uint64_t at, uint8_t* out, size_t n) {
            std::copy_n(file.begin() + static_cast<ptrdiff_t>(at), n, out);
            return true;
        });
    };
    CHECK(playable(file.size()) == file.size());
    CHECK(playable(second + 30) == second);
    CHECK(playable(file.size() - 1) == second);
    CHECK(playable(moof - 1) == 0);   // no whole moov
    CHECK(playable(moof) == 0);       // not one whole fragment: nothing to cut
    CHECK(playable(moof + 30) == 0);
    // Offered back only with a picture: one whole fragment holding one.
    CHECK(picture(file.size()) == mp4::PictureContent::Some);
    CHECK(picture(second) == mp4::PictureContent::Some);
    CHECK(picture(second - 1) == mp4::PictureContent::None);  // cut in the first mdat
    CHECK(picture(moof) == mp4::PictureContent::None);
    CHECK(picture(moof - 1) == mp4::PictureContent::Unknown);  // no whole moov
    // A half-downloaded ordinary movie (a browser's "video.mp4.part"): moov,
    // then a cut mdat. Not a recording of ours, so it is not cut.
    std::vector<uint8_t> download(file.begin(), file.begin() + static_cast<ptrdiff_t>(moof));
    const uint8_t mdat[] = {0, 0, 0x10, 0, 'm', 'd', 'a', 't', 1, 2, 3};
    download.insert(download.end(), std::begin(mdat), std::end(mdat));
    file = download;
    CHECK(playable(file.size()) == 0);
    CHECK(picture(file.size()) == mp4::PictureContent::None);
    // An ordinary movie has no mvex: not a fragmented recording, not ours to judge.
    const size_t mvex = std::string(file.begin(), file.end()).find("mvex");
    std::copy_n("free", 4, file.begin() + static_cast<ptrdiff_t>(mvex));
    CHECK(picture(file.size()) == mp4::PictureContent::Unknown);

    // Sound alone, written once half a second of it waits: no picture.
    std::vector<uint8_t> soundOnly;
    FragmentedMp4Writer soundWriter({16, 16, 30, true}, [&](const uint8_t* data, size_t size) {
        soundOnly.insert(soundOnly.end(), data, data + size);
        return true;
    });
    REQUIRE(soundWriter.Begin());
    const std::vector<int16_t> quiet(2 * 30000, 0);
    REQUIRE(soundWriter.AddAudio(quiet.data(), 30000, 0));
    file = soundOnly;
    CHECK(picture(file.size()) == mp4::PictureContent::None);
}

TEST_CASE("bad input is refused; a failed write stops the writer") {
    bool sinkOk = true;
    FragmentedMp4Writer writer({16, 16, 30, true}, [&](const uint8_t*, size_t) { return sinkOk; });
    CHECK_FALSE(writer.AddVideoFrame(nullptr, 0, 0, 0));  // before Begin
    REQUIRE(writer.Begin());
    std::vector<uint8_t> frame(16 * 16 * 3 / 2, 128);
    CHECK_FALSE(writer.AddVideoFrame(frame.data(), frame.size() - 1, 0, 1));
    CHECK(writer.AddVideoFrame(frame.data(), frame.size(), 1000, 1));
    CHECK_FALSE(writer.AddVideoFrame(frame.data(), frame.size(), 999, 1));
    sinkOk = false;
    CHECK_FALSE(writer.AddVideoFrame(frame.data(), frame.size(), 2000, 1));
    CHECK(writer.Failed());
    sinkOk = true;
    const int16_t sound[2] = {1, 1};
    CHECK_FALSE(writer.AddAudio(sound, 1, 2000));
    CHECK_FALSE(writer.Finish());

    FragmentedMp4Writer odd({15, 16, 30, false}, [](const uint8_t*, size_t) { return true; });
    CHECK_FALSE(odd.Begin());
}
