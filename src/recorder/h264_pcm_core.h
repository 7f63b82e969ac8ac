#pragma once
// The stand-in writer's H.264: pictures of I_PCM macroblocks only, so the
// samples go into the stream as they are and no encoder is needed. Parameter
// sets, slice headers and the escaping that keeps a payload from imitating a
// start code.
#include <cstddef>
#include <cstdint>
#include <vector>

struct Mp4Config;

namespace mp4 {

// Most significant bit first, with exp-Golomb codes, for parameter sets and slice headers.
class BitWriter {
public:
    explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}
    void Bits(uint64_t value, int count);  // the low `count` bits of value, count <= 64
    void Ue(uint32_t value);
    void Se(int32_t value);
    void AlignZero();  // zero bits up to the next byte boundary
    void Trailing();   // a one bit, then AlignZero
    bool Aligned() const { return used_ == 0; }

private:
    std::vector<uint8_t>& out_;
    uint32_t pending_ = 0;  // bits not yet forming a whole byte
    int used_ = 0;
};

// Inserts 0x03 into buf[begin, end) wherever two zero bytes are followed by a byte
// <= 3 (and after a final zero byte), so the payload cannot imitate a start code.
// `spots` is scratch space kept by the caller to avoid allocating. buf may grow;
// returns the new end.
size_t EscapeInPlace(std::vector<uint8_t>& buf, size_t begin, size_t end, std::vector<size_t>& spots);

// The smallest level_idc whose frame size and macroblock rate limits fit.
uint8_t LevelFor(uint32_t width, uint32_t height, uint32_t fps);

// Escaped NAL units including their one-byte header, without length prefix.
std::vector<uint8_t> SequenceParameterSet(const Mp4Config& config);
std::vector<uint8_t> PictureParameterSet();

// Bytes of one picture at most: length, slice header, every macroblock's
// samples and headers, stop byte.
size_t IdrPcmBytes(uint32_t width, uint32_t height);

// Encodes a tightly packed NV12 picture as one IDR slice NAL unit with a
// 4-byte length in front, into `frame` (grown when needed); returns its
// length. `idrId` alternates, as consecutive IDR pictures must differ.
// `header` and `spots` are scratch space kept by the caller.
size_t EncodeIdrPcm(const uint8_t* nv12, uint32_t width, uint32_t height, uint32_t& idrId, std::vector<uint8_t>& frame,
                    std::vector<uint8_t>& header, std::vector<size_t>& spots);

// The inverse, for the stand-in's own pictures only (the trim window shows
// them with no decoder): one sample holding one IDR slice of I_PCM
// macroblocks as EncodeIdrPcm writes it, back to a tightly packed NV12
// picture of width x height. False for anything else, such as another
// encoder's picture or a size that does not match; nothing is read past
// `size`.
bool DecodeIdrPcm(const uint8_t* sample, size_t size, uint32_t width, uint32_t height, std::vector<uint8_t>& nv12);

}  // namespace mp4
