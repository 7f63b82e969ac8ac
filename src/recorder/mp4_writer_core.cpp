#include "recorder/mp4_writer_core.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <utility>

namespace {

// The first zero byte in [p, end), or end. 32 bytes a step, since some C
// runtimes' memchr goes byte by byte and this scan covers every picture.
const uint8_t* FindZero(const uint8_t* p, const uint8_t* end) {
    constexpr uint64_t kOnes = 0x0101010101010101ull;
    constexpr uint64_t kHighs = 0x8080808080808080ull;
    // Nonzero exactly when some byte of v is 0.
    auto hasZero = [](uint64_t v) { return (v - kOnes) & ~v & kHighs; };
    for (; end - p >= 32; p += 32) {
        uint64_t v[4];
        std::memcpy(v, p, 32);
        if ((hasZero(v[0]) | hasZero(v[1]) | hasZero(v[2]) | hasZero(v[3])) != 0) break;
    }
    while (p != end && *p != 0) ++p;
    return p;
}

}  // namespace

namespace mp4 {

void BitWriter::Bits(uint64_t value, int count) {
    for (int i = count - 1; i >= 0; --i) {
        pending_ = (pending_ << 1) | static_cast<uint32_t>((value >> i) & 1u);
        if (++used_ == 8) {
            out_.push_back(static_cast<uint8_t>(pending_));
            pending_ = 0;
            used_ = 0;
        }
    }
}

void BitWriter::Ue(uint32_t value) {
    const uint64_t v = uint64_t{value} + 1;
    int length = 0;
    while ((v >> length) > 1) ++length;
    Bits(0, length);
    Bits(v, length + 1);
}

void BitWriter::Se(int32_t value) {
    const int64_t v = value;
    const uint64_t mapped = v > 0 ? static_cast<uint64_t>(2 * v - 1) : static_cast<uint64_t>(-2 * v);
    // Values near the int32 limits would not fit Ue's argument; they never occur here.
    Ue(static_cast<uint32_t>(std::min<uint64_t>(mapped, std::numeric_limits<uint32_t>::max() - 1)));
}

void BitWriter::AlignZero() {
    while (used_ != 0) Bits(0, 1);
}

void BitWriter::Trailing() {
    Bits(1, 1);
    AlignZero();
}

size_t EscapeInPlace(std::vector<uint8_t>& buf, size_t begin, size_t end, std::vector<size_t>& spots) {
    spots.clear();
    const uint8_t* p = buf.data();
    size_t zeros = 0;
    size_t i = begin;
    while (i < end) {
        if (zeros == 0) {
            // Only zero bytes matter; skip the long runs of picture samples quickly.
            const uint8_t* z = FindZero(p + i, p + end);
            if (z == p + end) break;
            i = static_cast<size_t>(z - p) + 1;
            zeros = 1;
            continue;
        }
        const uint8_t b = p[i];
        if (zeros >= 2 && b <= 3) {
            spots.push_back(i);
            zeros = 0;
        }
        zeros = b == 0 ? zeros + 1 : 0;
        ++i;
    }
    if (end > begin && p[end - 1] == 0) spots.push_back(end);
    if (spots.empty()) return end;

    const size_t k = spots.size();
    if (buf.size() < end + k) buf.resize(end + k);
    uint8_t* q = buf.data();
    size_t source = end;
    // Back to front, so every byte moves once.
    for (size_t j = k; j-- > 0;) {
        const size_t at = spots[j];
        std::memmove(q + at + j + 1, q + at, source - at);
        q[at + j] = 0x03;
        source = at;
    }
    return end + k;
}

uint8_t LevelFor(uint32_t width, uint32_t height, uint32_t fps) {
    struct Limit {
        uint8_t idc;
        uint64_t maxMbPerSecond;
        uint64_t maxFrameMbs;
    };
    static constexpr Limit kLimits[] = {
        {10, 1485, 99},        {11, 3000, 396},        {12, 6000, 396},        {13, 11880, 396},
        {20, 11880, 396},      {21, 19800, 792},       {22, 20250, 1620},      {30, 40500, 1620},
        {31, 108000, 3600},    {32, 216000, 5120},     {40, 245760, 8192},     {41, 245760, 8192},
        {42, 522240, 8704},    {50, 589824, 22080},    {51, 983040, 36864},    {52, 2073600, 36864},
        {60, 4177920, 139264}, {61, 8355840, 139264},  {62, 16711680, 139264},
    };
    const uint64_t w = (uint64_t{width} + 15) / 16;
    const uint64_t h = (uint64_t{height} + 15) / 16;
    const uint64_t mbs = w * h;
    for (const Limit& limit : kLimits) {
        // Neither side may exceed sqrt(8 * MaxFS) macroblocks.
        const uint64_t side = 8 * limit.maxFrameMbs;
        if (mbs <= limit.maxFrameMbs && w * w <= side && h * h <= side && mbs * fps <= limit.maxMbPerSecond)
            return limit.idc;
    }
    return 62;
}

std::vector<uint8_t> SequenceParameterSet(const Mp4Config& config) {
    const uint32_t mbWidth = (config.width + 15) / 16;
    const uint32_t mbHeight = (config.height + 15) / 16;
    std::vector<uint8_t> nal{0x67};  // nal_ref_idc 3, type 7
    BitWriter w(nal);
    w.Bits(77, 8);    // Main
    w.Bits(0x40, 8);  // constraint_set1: decodable by any Main decoder
    w.Bits(LevelFor(config.width, config.height, config.fps), 8);
    w.Ue(0);  // seq_parameter_set_id
    w.Ue(0);  // log2_max_frame_num_minus4
    w.Ue(2);  // pic_order_cnt_type: order follows decoding, every picture is an IDR
    w.Ue(1);  // max_num_ref_frames
    w.Bits(0, 1);  // gaps_in_frame_num_value_allowed_flag
    w.Ue(mbWidth - 1);
    w.Ue(mbHeight - 1);
    w.Bits(1, 1);  // frame_mbs_only_flag
    w.Bits(1, 1);  // direct_8x8_inference_flag
    const uint32_t cropRight = (mbWidth * 16 - config.width) / 2;  // 4:2:0 crops in 2-sample units
    const uint32_t cropBottom = (mbHeight * 16 - config.height) / 2;
    const bool crop = cropRight != 0 || cropBottom != 0;
    w.Bits(crop ? 1 : 0, 1);
    if (crop) {
        w.Ue(0);
        w.Ue(cropRight);
        w.Ue(0);
        w.Ue(cropBottom);
    }
    w.Bits(1, 1);  // vui_parameters_present_flag
    w.Bits(1, 1);  // pixel shape present
    w.Bits(1, 8);  // square pixels
    w.Bits(0, 1);  // overscan_info_present_flag
    w.Bits(1, 1);  // video_signal_type_present_flag
    w.Bits(5, 3);  // video_format: not given
    w.Bits(0, 1);  // limited range, as the converter produces
    w.Bits(1, 1);  // colour_description_present_flag
    w.Bits(1, 8);  // BT.709 primaries
    w.Bits(1, 8);  // BT.709 transfer
    w.Bits(1, 8);  // BT.709 matrix
    w.Bits(0, 1);  // chroma_loc_info_present_flag
    w.Bits(1, 1);  // timing_info_present_flag
    w.Bits(1, 32);                         // num_units_in_tick
    w.Bits(uint64_t{config.fps} * 2, 32);  // time_scale: two ticks a frame
    w.Bits(0, 1);  // fixed_frame_rate_flag: recordings have gaps
    w.Bits(0, 1);  // nal_hrd_parameters_present_flag
    w.Bits(0, 1);  // vcl_hrd_parameters_present_flag
    w.Bits(0, 1);  // pic_struct_present_flag
    w.Bits(1, 1);  // bitstream_restriction_flag: tells decoders there is no reordering delay
    w.Bits(1, 1);  // motion_vectors_over_pic_boundaries_flag
    w.Ue(0);       // max_bytes_per_pic_denom
    w.Ue(0);       // max_bits_per_mb_denom
    w.Ue(15);      // log2_max_mv_length_horizontal
    w.Ue(15);      // log2_max_mv_length_vertical
    w.Ue(0);       // max_num_reorder_frames
    w.Ue(1);       // max_dec_frame_buffering
    w.Trailing();
    std::vector<size_t> spots;
    nal.resize(EscapeInPlace(nal, 1, nal.size(), spots));
    return nal;
}

std::vector<uint8_t> PictureParameterSet() {
    std::vector<uint8_t> nal{0x68};  // nal_ref_idc 3, type 8
    BitWriter w(nal);
    w.Ue(0);       // pic_parameter_set_id
    w.Ue(0);       // seq_parameter_set_id
    w.Bits(0, 1);  // CAVLC
    w.Bits(0, 1);  // bottom_field_pic_order_in_frame_present_flag
    w.Ue(0);       // num_slice_groups_minus1
    w.Ue(0);       // num_ref_idx_l0_default_active_minus1
    w.Ue(0);       // num_ref_idx_l1_default_active_minus1
    w.Bits(0, 1);  // weighted_pred_flag
    w.Bits(0, 2);  // weighted_bipred_idc
    w.Se(0);       // pic_init_qp_minus26
    w.Se(0);       // pic_init_qs_minus26
    w.Se(0);       // chroma_qp_index_offset
    w.Bits(1, 1);  // deblocking_filter_control_present_flag: lets slices switch the filter off
    w.Bits(0, 1);  // constrained_intra_pred_flag
    w.Bits(0, 1);  // redundant_pic_cnt_present_flag
    w.Trailing();
    std::vector<size_t> spots;
    nal.resize(EscapeInPlace(nal, 1, nal.size(), spots));
    return nal;
}

}  // namespace mp4

namespace {

using namespace mp4;

constexpr uint64_t kAudioFlushFrames = kAudioRate / 2;  // sound alone is written once this much waits
constexpr uint64_t kAudioSnapFrames = kAudioRate / 50;  // 20 ms: closer than this counts as contiguous
constexpr size_t kMaxAudioBlock = size_t{1} << 24;
constexpr uint32_t kSyncSampleFlags = 0x02000000;  // depends on no other sample, not a non-sync sample
constexpr size_t kPcmBytes = 384;                  // 256 luma + 64 Cb + 64 Cr samples

// Big-endian box writing into a byte vector; boxes get their size patched at the end.
class Boxes {
public:
    explicit Boxes(std::vector<uint8_t>& out) : out_(out) {}
    void U8(uint32_t v) { out_.push_back(static_cast<uint8_t>(v)); }
    void U16(uint32_t v) {
        U8(v >> 8);
        U8(v);
    }
    void U32(uint32_t v) {
        U16(v >> 16);
        U16(v & 0xFFFF);
    }
    void U64(uint64_t v) {
        U32(static_cast<uint32_t>(v >> 32));
        U32(static_cast<uint32_t>(v));
    }
    void Zeros(size_t n) { out_.insert(out_.end(), n, 0); }
    void Type(const char* fourcc) { out_.insert(out_.end(), fourcc, fourcc + 4); }
    void Raw(const std::vector<uint8_t>& bytes) { out_.insert(out_.end(), bytes.begin(), bytes.end()); }
    size_t Open(const char* type) {
        const size_t at = out_.size();
        U32(0);
        Type(type);
        return at;
    }
    size_t OpenFull(const char* type, uint32_t version, uint32_t flags) {
        const size_t at = Open(type);
        U32(version << 24 | flags);
        return at;
    }
    void Close(size_t at) { Patch32(at, static_cast<uint32_t>(out_.size() - at)); }
    void Patch32(size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) out_[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
    }
    size_t Size() const { return out_.size(); }
    void Matrix() {
        static constexpr uint32_t kIdentity[9] = {0x10000, 0, 0, 0, 0x10000, 0, 0, 0, 0x40000000};
        for (uint32_t v : kIdentity) U32(v);
    }

private:
    std::vector<uint8_t>& out_;
};

uint64_t To48k(uint64_t t) {
    // 48000 / 10^7 = 3 / 625, split to stay exact without overflow.
    return t / 625 * 3 + (t % 625 * 3 + 312) / 625;
}

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

// Eight bytes at a time in plain integers: fast at any optimisation level, with no
// reliance on the compiler vectorising.
inline uint64_t Load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

inline void Store64(uint8_t* p, uint64_t v) { std::memcpy(p, &v, 8); }

// Raises 0 bytes to 1 (0 is not a valid PCM sample value). The high bit of
// `nonzero` is set in every byte that is not 0; no carry crosses bytes.
inline uint64_t NoZeroBytes(uint64_t v) {
    constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
    const uint64_t nonzero = ((v & kLow7) + kLow7) | v;
    return v | ((~nonzero >> 7) & 0x0101010101010101ull);
}

// Bytes 0, 2, 4, 6 (in memory order, little-endian load) packed into 4 bytes.
inline uint64_t EvenBytes(uint64_t v) {
    v &= 0x00FF00FF00FF00FFull;
    v = (v | (v >> 8)) & 0x0000FFFF0000FFFFull;
    return (v | (v >> 16)) & 0x00000000FFFFFFFFull;
}

constexpr bool kLittleEndian = std::endian::native == std::endian::little;

inline void CopyRow16(uint8_t* dst, const uint8_t* src) {
    Store64(dst, NoZeroBytes(Load64(src)));
    Store64(dst + 8, NoZeroBytes(Load64(src + 8)));
}

inline void SplitChroma8(uint8_t* cb, uint8_t* cr, const uint8_t* src) {
    if constexpr (kLittleEndian) {
        const uint64_t a = Load64(src);
        const uint64_t b = Load64(src + 8);
        Store64(cb, NoZeroBytes(EvenBytes(a) | EvenBytes(b) << 32));
        Store64(cr, NoZeroBytes(EvenBytes(a >> 8) | EvenBytes(b >> 8) << 32));
    } else {
        for (int i = 0; i < 8; ++i) {
            cb[i] = src[2 * i] == 0 ? 1 : src[2 * i];
            cr[i] = src[2 * i + 1] == 0 ? 1 : src[2 * i + 1];
        }
    }
}

}  // namespace

FragmentedMp4Writer::FragmentedMp4Writer(const Mp4Config& config, Sink sink)
    : config_(config), sink_(std::move(sink)) {
    const Mp4Config& c = config_;
    configOk_ = c.width >= 2 && c.height >= 2 && c.width <= 16384 && c.height <= 16384 && c.width % 2 == 0 &&
                c.height % 2 == 0 && c.fps >= 1 && c.fps <= 1000 && c.audioFramesPerSample >= 1 &&
                c.audioFramesPerSample <= 48000 && static_cast<bool>(sink_);
    if (!configOk_) return;
    mbWidth_ = (c.width + 15) / 16;
    mbHeight_ = (c.height + 15) / 16;
    frameBytes_ = size_t{c.width} * c.height * 3 / 2;
    defaultDuration_ = kVideoTimescale / c.fps;
}

bool FragmentedMp4Writer::Write(const uint8_t* data, size_t size) {
    if (size == 0) return true;
    bool ok = false;
    try {
        ok = sink_(data, size);
    } catch (...) {
        ok = false;
    }
    if (!ok) state_ = State::Failed;
    return ok;
}

bool FragmentedMp4Writer::Begin() {
    if (state_ != State::Idle || !configOk_) return false;
    try {
        const std::vector<uint8_t> sps = SequenceParameterSet(config_);
        const std::vector<uint8_t> pps = PictureParameterSet();
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
        b.U32(config_.audio ? 3 : 2);  // next_track_ID
        b.Close(mvhd);
        Track(b, kVideoTrackId, true, config_, sps, pps);
        if (config_.audio) Track(b, kAudioTrackId, false, config_, sps, pps);
        const size_t mvex = b.Open("mvex");
        for (uint32_t id = kVideoTrackId; id <= (config_.audio ? kAudioTrackId : kVideoTrackId); ++id) {
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

        // Sized once for a whole picture: the slice header, 2 header bytes per
        // macroblock after the first, the samples and the stop byte, plus slack.
        const size_t mbs = size_t{mbWidth_} * mbHeight_;
        frame_.resize(4 + 64 + mbs * (kPcmBytes + 2) + 16);
        header_.reserve(64);
        moof_.reserve(1024);
        spots_.reserve(16);
        if (config_.audio) audioPending_.reserve((kAudioFlushFrames + 4800) * 4);
        state_ = State::Open;
        return Write(out.data(), out.size());
    } catch (...) {
        state_ = State::Failed;
        return false;
    }
}

size_t FragmentedMp4Writer::EncodePicture(const uint8_t* nv12) {
    const uint32_t width = config_.width;
    const uint32_t height = config_.height;
    const uint8_t* luma = nv12;
    const uint8_t* chroma = nv12 + size_t{width} * height;

    header_.clear();
    header_.push_back(0x65);  // nal_ref_idc 3, IDR slice
    BitWriter w(header_);
    w.Ue(0);          // first_mb_in_slice
    w.Ue(7);          // slice_type: I, and every slice of the picture is I
    w.Ue(0);          // pic_parameter_set_id
    w.Bits(0, 4);     // frame_num
    w.Ue(idrId_);     // idr_pic_id: consecutive IDR pictures must differ
    w.Bits(0, 1);     // no_output_of_prior_pics_flag
    w.Bits(0, 1);     // long_term_reference_flag
    w.Se(0);          // slice_qp_delta
    w.Ue(1);          // disable_deblocking_filter_idc: keep the samples exact
    w.Ue(25);         // mb_type I_PCM of the first macroblock
    w.AlignZero();    // pcm_alignment_zero_bits
    idrId_ ^= 1;

    const size_t mbs = size_t{mbWidth_} * mbHeight_;
    const size_t needed = 4 + header_.size() + kPcmBytes + (mbs - 1) * (kPcmBytes + 2) + 1;
    if (frame_.size() < needed + 16) frame_.resize(needed + 16);
    uint8_t* out = frame_.data() + 4;
    std::memcpy(out, header_.data(), header_.size());
    out += header_.size();

    const uint32_t chromaWidth = width / 2;
    const uint32_t chromaHeight = height / 2;
    for (uint32_t my = 0; my < mbHeight_; ++my) {
        for (uint32_t mx = 0; mx < mbWidth_; ++mx) {
            if (mx != 0 || my != 0) {
                // ue(25) is 000011010 and 7 alignment bits: always these two bytes.
                out[0] = 0x0D;
                out[1] = 0x00;
                out += 2;
            }
            const uint32_t x0 = mx * 16;
            const uint32_t y0 = my * 16;
            uint8_t* cb = out + 256;
            uint8_t* cr = out + 320;
            if (x0 + 16 <= width && y0 + 16 <= height) {
                const uint8_t* src = luma + size_t{y0} * width + x0;
                for (int r = 0; r < 16; ++r, src += width) CopyRow16(out + r * 16, src);
                const uint8_t* csrc = chroma + size_t{y0 / 2} * width + x0;
                for (int r = 0; r < 8; ++r, csrc += width) SplitChroma8(cb + r * 8, cr + r * 8, csrc);
            } else {
                // Picture edge: repeat the last column and row into the padding.
                for (uint32_t r = 0; r < 16; ++r) {
                    const uint8_t* row = luma + size_t{std::min(y0 + r, height - 1)} * width;
                    for (uint32_t c = 0; c < 16; ++c) {
                        const uint8_t v = row[std::min(x0 + c, width - 1)];
                        out[r * 16 + c] = v == 0 ? 1 : v;
                    }
                }
                for (uint32_t r = 0; r < 8; ++r) {
                    const uint8_t* row = chroma + size_t{std::min(y0 / 2 + r, chromaHeight - 1)} * width;
                    for (uint32_t c = 0; c < 8; ++c) {
                        const uint8_t* pair = row + 2 * size_t{std::min(x0 / 2 + c, chromaWidth - 1)};
                        cb[r * 8 + c] = pair[0] == 0 ? 1 : pair[0];
                        cr[r * 8 + c] = pair[1] == 0 ? 1 : pair[1];
                    }
                }
            }
            out += kPcmBytes;
        }
    }
    *out++ = 0x80;  // rbsp_slice_trailing_bits
    const size_t end = static_cast<size_t>(out - frame_.data());
    // Samples are never 0, so only the slice header can need escaping; the scan is still done.
    const size_t escapedEnd = EscapeInPlace(frame_, 5, end, spots_);
    const uint32_t nalSize = static_cast<uint32_t>(escapedEnd - 4);
    for (int i = 0; i < 4; ++i) frame_[i] = static_cast<uint8_t>(nalSize >> (24 - 8 * i));
    return escapedEnd;
}

bool FragmentedMp4Writer::WriteFragment(size_t videoBytes, int64_t videoTime, uint32_t videoDuration) {
    const size_t audioBytes = static_cast<size_t>(pendingFrames_) * 4;
    moof_.clear();
    Boxes b(moof_);
    const size_t moof = b.Open("moof");
    const size_t mfhd = b.OpenFull("mfhd", 0, 0);
    b.U32(++sequence_);
    b.Close(mfhd);

    size_t videoOffsetAt = 0;
    size_t audioOffsetAt = 0;
    if (videoBytes != 0) {
        const size_t traf = b.Open("traf");
        const size_t tfhd = b.OpenFull("tfhd", 0, 0x020000);  // offsets count from the moof
        b.U32(kVideoTrackId);
        b.Close(tfhd);
        const size_t tfdt = b.OpenFull("tfdt", 1, 0);
        b.U64(static_cast<uint64_t>(videoTime));
        b.Close(tfdt);
        const size_t trun = b.OpenFull("trun", 0, 0x000701);  // data offset; duration, size, flags
        b.U32(1);
        videoOffsetAt = b.Size();
        b.U32(0);
        b.U32(videoDuration);
        b.U32(static_cast<uint32_t>(videoBytes));
        b.U32(kSyncSampleFlags);
        b.Close(trun);
        b.Close(traf);
    }
    if (audioBytes != 0) {
        const size_t traf = b.Open("traf");
        const uint32_t group = config_.audioFramesPerSample;
        const size_t tfhd = b.OpenFull("tfhd", 0, 0x020000 | 0x08 | 0x10 | 0x20);  // + default duration/size/flags
        b.U32(kAudioTrackId);
        b.U32(group);      // one 48 kHz tick per frame
        b.U32(group * 4);  // 4 bytes per stereo frame
        b.U32(kSyncSampleFlags);
        b.Close(tfhd);
        const size_t tfdt = b.OpenFull("tfdt", 1, 0);
        b.U64(pendingStart_);
        b.Close(tfdt);
        // A shorter last sample needs every sample's duration and size listed.
        const uint64_t rest = pendingFrames_ % group;
        const size_t trun = b.OpenFull("trun", 0, rest != 0 ? 0x000301 : 0x000001);
        const uint64_t samples = (pendingFrames_ + group - 1) / group;
        b.U32(static_cast<uint32_t>(samples));
        audioOffsetAt = b.Size();
        b.U32(0);
        for (uint64_t i = 0; rest != 0 && i < samples; ++i) {
            const uint32_t frames = i + 1 < samples ? group : static_cast<uint32_t>(rest);
            b.U32(frames);
            b.U32(frames * 4);
        }
        b.Close(trun);
        b.Close(traf);
    }
    b.Close(moof);

    const uint64_t payload = uint64_t{videoBytes} + audioBytes;
    const bool large = payload + 8 > std::numeric_limits<uint32_t>::max();
    const size_t mdatHeader = large ? 16 : 8;
    const size_t moofSize = b.Size();
    if (videoOffsetAt != 0) b.Patch32(videoOffsetAt, static_cast<uint32_t>(moofSize + mdatHeader));
    if (audioOffsetAt != 0) b.Patch32(audioOffsetAt, static_cast<uint32_t>(moofSize + mdatHeader + videoBytes));
    if (large) {
        b.U32(1);
        b.Type("mdat");
        b.U64(payload + 16);
    } else {
        b.U32(static_cast<uint32_t>(payload + 8));
        b.Type("mdat");
    }

    const bool ok = Write(moof_.data(), moof_.size()) && Write(frame_.data(), videoBytes) &&
                    Write(audioPending_.data(), audioBytes);
    if (audioBytes != 0) {
        audioEnd_ = pendingStart_ + pendingFrames_;
        haveAudioEnd_ = true;
        audioPending_.clear();
        pendingFrames_ = 0;
    }
    return ok;
}

bool FragmentedMp4Writer::FlushAudio() {
    if (pendingFrames_ == 0) return true;
    return WriteFragment(0, 0, 0);
}

bool FragmentedMp4Writer::AddVideoFrame(const uint8_t* nv12, size_t size, int64_t time, int64_t duration) {
    if (state_ != State::Open || nv12 == nullptr || size != frameBytes_ || time < 0) return false;
    if (haveVideo_ && time < lastVideoTime_) return false;
    try {
        const size_t bytes = EncodePicture(nv12);
        const int64_t d = duration > 0 ? duration : defaultDuration_;
        const uint32_t sampleDuration = static_cast<uint32_t>(std::min<int64_t>(d, std::numeric_limits<uint32_t>::max()));
        haveVideo_ = true;
        lastVideoTime_ = time;
        return WriteFragment(bytes, time, sampleDuration);
    } catch (...) {
        state_ = State::Failed;
        return false;
    }
}

bool FragmentedMp4Writer::AddAudio(const int16_t* frames, size_t frameCount, int64_t time) {
    if (state_ != State::Open || !config_.audio || frameCount > kMaxAudioBlock) return false;
    if (frameCount == 0) return true;
    if (frames == nullptr) return false;
    if (time < 0) {
        // Sound from before the recording's start: keep only what follows it.
        const uint64_t early = To48k(uint64_t{0} - static_cast<uint64_t>(time));
        if (early >= frameCount) return true;
        frames += early * 2;
        frameCount -= static_cast<size_t>(early);
        time = 0;
    }
    try {
        const uint64_t start = To48k(static_cast<uint64_t>(time));
        // Sound that resumes clearly later (a device gap) starts a fragment of its own at its time.
        if (pendingFrames_ != 0 && start > pendingStart_ + pendingFrames_ + kAudioSnapFrames && !FlushAudio())
            return false;
        if (pendingFrames_ == 0) {
            // Small jitter or an overlap continues where the sound ended, so it never goes back.
            pendingStart_ = haveAudioEnd_ && start <= audioEnd_ + kAudioSnapFrames ? audioEnd_ : start;
        }
        const size_t at = audioPending_.size();
        audioPending_.resize(at + frameCount * 4);
        uint8_t* out = audioPending_.data() + at;
        for (size_t i = 0; i < frameCount * 2; ++i) {
            const uint16_t v = static_cast<uint16_t>(frames[i]);
            out[2 * i] = static_cast<uint8_t>(v);
            out[2 * i + 1] = static_cast<uint8_t>(v >> 8);
        }
        pendingFrames_ += frameCount;
        if (pendingFrames_ > kAudioFlushFrames) return FlushAudio();
        return true;
    } catch (...) {
        state_ = State::Failed;
        return false;
    }
}

bool FragmentedMp4Writer::Finish() {
    if (state_ != State::Open) return false;
    const bool ok = FlushAudio();
    if (ok) state_ = State::Done;
    return ok;
}
