#pragma once
// Writing MP4 boxes: big-endian fields, boxes whose size is patched when they
// close, and the stand-in recording's start (ftyp and moov, with one video
// track, a sound track when asked, and mvex for the fragments after them).
#include <cstddef>
#include <cstdint>
#include <vector>

struct Mp4Config;

namespace mp4 {

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

// ftyp and moov of a fragmented recording of `config`.
std::vector<uint8_t> InitSegment(const Mp4Config& config, const std::vector<uint8_t>& sps,
                                 const std::vector<uint8_t>& pps);

}  // namespace mp4
