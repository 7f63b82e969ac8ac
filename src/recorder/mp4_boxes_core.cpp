#include "recorder/mp4_boxes_core.h"

#include "recorder/mp4_writer_core.h"

namespace mp4 {
namespace {

void Track(Boxes& b, uint32_t id, bool video, const Mp4Config& c, const std::vector<uint8_t>& sps,
           const std::vector<uint8_t>& pps) {
    const size_t trak = b.Open("trak");
    const size_t tkhd = b.OpenFull("tkhd", 0, 0x000003);  // enabled, in movie
    b.U32(0);
    b.U32(0);
    b.U32(id);
    b.U32(0);
    b.U32(0);  // duration: the fragments carry it
    b.Zeros(8);
    b.U16(0);                    // layer
    b.U16(video ? 0 : 1);        // alternate_group
    b.U16(video ? 0 : 0x0100);   // volume
    b.U16(0);
    b.Matrix();
    b.U32(video ? c.width << 16 : 0);
    b.U32(video ? c.height << 16 : 0);
    b.Close(tkhd);

    const size_t mdia = b.Open("mdia");
    const size_t mdhd = b.OpenFull("mdhd", 0, 0);
    b.U32(0);
    b.U32(0);
    b.U32(video ? kVideoTimescale : kAudioRate);
    b.U32(0);
    b.U16(0x55C4);  // "und"
    b.U16(0);
    b.Close(mdhd);
    const size_t hdlr = b.OpenFull("hdlr", 0, 0);
    b.U32(0);
    b.Type(video ? "vide" : "soun");
    b.Zeros(12);
    const char* name = video ? "VideoHandler" : "SoundHandler";
    for (const char* p = name; *p != 0; ++p) b.U8(static_cast<uint8_t>(*p));
    b.U8(0);
    b.Close(hdlr);

    const size_t minf = b.Open("minf");
    if (video) {
        const size_t vmhd = b.OpenFull("vmhd", 0, 1);
        b.Zeros(8);
        b.Close(vmhd);
    } else {
        const size_t smhd = b.OpenFull("smhd", 0, 0);
        b.Zeros(4);
        b.Close(smhd);
    }
    const size_t dinf = b.Open("dinf");
    const size_t dref = b.OpenFull("dref", 0, 0);
    b.U32(1);
    b.Close(b.OpenFull("url ", 0, 1));  // the data is in this file
    b.Close(dref);
    b.Close(dinf);

    const size_t stbl = b.Open("stbl");
    const size_t stsd = b.OpenFull("stsd", 0, 0);
    b.U32(1);
    if (video) {
        const size_t avc1 = b.Open("avc1");
        b.Zeros(6);
        b.U16(1);  // data_reference_index
        b.Zeros(16);
        b.U16(c.width);
        b.U16(c.height);
        b.U32(0x00480000);  // 72 dpi
        b.U32(0x00480000);
        b.U32(0);
        b.U16(1);  // frame_count
        b.Zeros(32);  // compressorname
        b.U16(0x0018);
        b.U16(0xFFFF);
        const size_t avcC = b.Open("avcC");
        b.U8(1);
        b.U8(sps[1]);  // profile, compatibility and level as in the SPS
        b.U8(sps[2]);
        b.U8(sps[3]);
        b.U8(0xFF);  // 4-byte NAL lengths
        b.U8(0xE1);  // one SPS
        b.U16(static_cast<uint32_t>(sps.size()));
        b.Raw(sps);
        b.U8(1);
        b.U16(static_cast<uint32_t>(pps.size()));
        b.Raw(pps);
        b.Close(avcC);
        // The pictures' colours: BT.709 primaries, transfer and matrix, at
        // video levels (16-235), as the converter makes them.
        const size_t colr = b.Open("colr");
        b.Type("nclx");
        b.U16(1);
        b.U16(1);
        b.U16(1);
        b.U8(0);  // not full range
        b.Close(colr);
        b.Close(avc1);
    } else {
        // 'sowt': little-endian signed 16-bit PCM in a version 0 sound sample entry.
        const size_t sowt = b.Open("sowt");
        b.Zeros(6);
        b.U16(1);
        b.Zeros(8);
        b.U16(2);   // channels
        b.U16(16);  // bits
        b.U32(0);
        b.U32(kAudioRate << 16);
        b.Close(sowt);
    }
    b.Close(stsd);
    for (const char* empty : {"stts", "stsc", "stco"}) {
        const size_t box = b.OpenFull(empty, 0, 0);
        b.U32(0);
        b.Close(box);
    }
    const size_t stsz = b.OpenFull("stsz", 0, 0);
    b.U32(0);
    b.U32(0);
    b.Close(stsz);
    b.Close(stbl);
    b.Close(minf);
    b.Close(mdia);
    b.Close(trak);
}

}  // namespace

std::vector<uint8_t> InitSegment(const Mp4Config& config, const std::vector<uint8_t>& sps,
                                 const std::vector<uint8_t>& pps) {
    std::vector<uint8_t> out;
    Boxes b(out);
    const size_t ftyp = b.Open("ftyp");
    b.Type("isom");
    b.U32(0x200);
    for (const char* brand : {"isom", "iso6", "iso5", "avc1", "mp41"}) b.Type(brand);
    b.Close(ftyp);

    const size_t moov = b.Open("moov");
    const size_t mvhd = b.OpenFull("mvhd", 0, 0);
    b.U32(0);
    b.U32(0);
    b.U32(1000);
    b.U32(0);
    b.U32(0x00010000);  // rate 1.0
    b.U16(0x0100);      // volume 1.0
    b.Zeros(10);
    b.Matrix();
    b.Zeros(24);
    b.U32(config.audio ? 3 : 2);  // next_track_ID
    b.Close(mvhd);
    Track(b, kVideoTrackId, true, config, sps, pps);
    if (config.audio) Track(b, kAudioTrackId, false, config, sps, pps);
    const size_t mvex = b.Open("mvex");
    for (uint32_t id = kVideoTrackId; id <= (config.audio ? kAudioTrackId : kVideoTrackId); ++id) {
        const size_t trex = b.OpenFull("trex", 0, 0);
        b.U32(id);
        b.U32(1);  // sample description index
        b.U32(0);
        b.U32(0);
        b.U32(0);
        b.Close(trex);
    }
    b.Close(mvex);
    b.Close(moov);

    return out;
}

}  // namespace mp4
