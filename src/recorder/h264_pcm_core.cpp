#include "recorder/h264_pcm_core.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

#include "recorder/mp4_writer_core.h"

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


constexpr size_t kPcmBytes = 384;  // 256 luma + 64 Cb + 64 Cr samples

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

size_t IdrPcmBytes(uint32_t width, uint32_t height) {
    const size_t mbs = size_t{(width + 15) / 16} * ((height + 15) / 16);
    return 4 + 64 + mbs * (kPcmBytes + 2) + 16;
}

size_t EncodeIdrPcm(const uint8_t* nv12, uint32_t width, uint32_t height, uint32_t& idrId, std::vector<uint8_t>& frame,
                    std::vector<uint8_t>& header, std::vector<size_t>& spots) {
    const uint32_t mbWidth = (width + 15) / 16;
    const uint32_t mbHeight = (height + 15) / 16;
    const uint8_t* luma = nv12;
    const uint8_t* chroma = nv12 + size_t{width} * height;

    header.clear();
    header.push_back(0x65);  // nal_ref_idc 3, IDR slice
    BitWriter w(header);
    w.Ue(0);          // first_mb_in_slice
    w.Ue(7);          // slice_type: I, and every slice of the picture is I
    w.Ue(0);          // pic_parameter_set_id
    w.Bits(0, 4);     // framenum
    w.Ue(idrId);     // idr_pic_id: consecutive IDR pictures must differ
    w.Bits(0, 1);     // no_output_of_prior_pics_flag
    w.Bits(0, 1);     // long_term_reference_flag
    w.Se(0);          // slice_qp_delta
    w.Ue(1);          // disable_deblocking_filter_idc: keep the samples exact
    w.Ue(25);         // mb_type I_PCM of the first macroblock
    w.AlignZero();    // pcm_alignment_zero_bits
    idrId ^= 1;

    const size_t mbs = size_t{mbWidth} * mbHeight;
    const size_t needed = 4 + header.size() + kPcmBytes + (mbs - 1) * (kPcmBytes + 2) + 1;
    if (frame.size() < needed + 16) frame.resize(needed + 16);
    uint8_t* out = frame.data() + 4;
    std::memcpy(out, header.data(), header.size());
    out += header.size();

    const uint32_t chromaWidth = width / 2;
    const uint32_t chromaHeight = height / 2;
    for (uint32_t my = 0; my < mbHeight; ++my) {
        for (uint32_t mx = 0; mx < mbWidth; ++mx) {
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
    const size_t end = static_cast<size_t>(out - frame.data());
    // Samples are never 0, so only the slice header can need escaping; the scan is still done.
    const size_t escapedEnd = EscapeInPlace(frame, 5, end, spots);
    const uint32_t nalSize = static_cast<uint32_t>(escapedEnd - 4);
    for (int i = 0; i < 4; ++i) frame[i] = static_cast<uint8_t>(nalSize >> (24 - 8 * i));
    return escapedEnd;
}

namespace {

// Most significant bit first over an unescaped payload; reading past its end
// only sets `failed`.
class BitReader {
public:
    BitReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint32_t Bit() {
        if (at_ >= size_ * 8) {
            failed = true;
            return 0;
        }
        const uint32_t bit = data_[at_ / 8] >> (7 - at_ % 8) & 1;
        ++at_;
        return bit;
    }
    uint32_t Bits(int count) {
        uint32_t value = 0;
        for (int i = 0; i < count; ++i) value = value << 1 | Bit();
        return value;
    }
    uint32_t Ue() {
        int zeros = 0;
        while (Bit() == 0 && !failed) {
            if (++zeros > 31) {
                failed = true;
                return 0;
            }
        }
        return static_cast<uint32_t>((uint64_t{1} << zeros) - 1 + Bits(zeros));
    }
    // Past the zero bits up to the next byte boundary; false when one is not zero.
    bool AlignZero() {
        while (at_ % 8 != 0)
            if (Bit() != 0) return false;
        return !failed;
    }
    size_t Byte() const { return at_ / 8; }
    bool failed = false;

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

}  // namespace

bool DecodeIdrPcm(const uint8_t* sample, size_t size, uint32_t width, uint32_t height, std::vector<uint8_t>& nv12) {
    if (width == 0 || height == 0 || width % 2 != 0 || height % 2 != 0 || width > 16384 || height > 16384 || size < 6)
        return false;
    const uint32_t nalSize = uint32_t{sample[0]} << 24 | uint32_t{sample[1]} << 16 | uint32_t{sample[2]} << 8 | sample[3];
    if (nalSize != size - 4 || (sample[4] & 0x1F) != 5) return false;
    const uint32_t mbWidth = (width + 15) / 16, mbHeight = (height + 15) / 16;
    const size_t mbs = size_t{mbWidth} * mbHeight;
    // The payload is a header of a few bytes and the macroblocks; anything
    // larger is not one of ours, and is refused before it is copied.
    const size_t payload = kPcmBytes + (mbs - 1) * (kPcmBytes + 2) + 1;
    if (nalSize > payload + 64) return false;
    std::vector<uint8_t> rbsp;
    rbsp.reserve(nalSize);
    int zeros = 0;
    for (size_t i = 5; i < size; ++i) {
        const uint8_t b = sample[i];
        if (zeros >= 2 && b == 3) {
            zeros = 0;
            continue;
        }
        rbsp.push_back(b);
        zeros = b == 0 ? zeros + 1 : 0;
    }
    BitReader r(rbsp.data(), rbsp.size());
    const uint32_t firstMb = r.Ue(), sliceType = r.Ue(), pps = r.Ue();
    r.Bits(4);  // frame_num
    r.Ue();     // idr_pic_id
    r.Bits(2);  // no_output_of_prior_pics_flag, long_term_reference_flag
    r.Ue();     // slice_qp_delta (its sign does not matter here)
    const uint32_t deblocking = r.Ue(), mbType = r.Ue();
    if (r.failed || firstMb != 0 || (sliceType != 2 && sliceType != 7) || pps != 0 || deblocking != 1 || mbType != 25 ||
        !r.AlignZero())
        return false;
    const size_t begin = r.Byte();
    if (rbsp.size() - begin != payload || rbsp.back() != 0x80) return false;

    nv12.assign(size_t{width} * height * 3 / 2, 0);
    uint8_t* luma = nv12.data();
    uint8_t* chroma = luma + size_t{width} * height;
    const uint8_t* in = rbsp.data() + begin;
    for (uint32_t my = 0; my < mbHeight; ++my) {
        for (uint32_t mx = 0; mx < mbWidth; ++mx) {
            if (mx != 0 || my != 0) {
                if (in[0] != 0x0D || in[1] != 0x00) return false;
                in += 2;
            }
            const uint32_t x0 = mx * 16, y0 = my * 16;
            const uint32_t columns = std::min(16u, width - x0), rows = std::min(16u, height - y0);
            for (uint32_t row = 0; row < rows; ++row)
                std::memcpy(luma + size_t{y0 + row} * width + x0, in + row * 16, columns);
            for (uint32_t row = 0; row < rows / 2; ++row) {
                uint8_t* pair = chroma + size_t{y0 / 2 + row} * width + x0;
                for (uint32_t c = 0; c < columns / 2; ++c) {
                    pair[2 * c] = in[256 + row * 8 + c];
                    pair[2 * c + 1] = in[320 + row * 8 + c];
                }
            }
            in += kPcmBytes;
        }
    }
    return true;
}

}  // namespace mp4
