// libFuzzer target: the trim reader on any bytes, and a cut of whatever it
// accepts, read back; every read stays within the bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "trim/mp4_trim_core.h"

namespace {

class Bytes final : public trim::Source, public trim::Sink {
public:
    Bytes(const uint8_t* data, size_t size) : data_(data, data + size) {}
    uint64_t Size() const override { return data_.size(); }
    bool Read(uint64_t offset, void* out, size_t size) override {
        if (offset > data_.size() || size > data_.size() - offset) __builtin_trap();
        std::memcpy(out, data_.data() + offset, size);
        return true;
    }
    bool Write(const void* data, size_t size) override {
        const auto* p = static_cast<const uint8_t*>(data);
        written_.insert(written_.end(), p, p + size);
        return written_.size() < (64u << 20);
    }
    std::vector<uint8_t> written_;

private:
    std::vector<uint8_t> data_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Bytes file(data, size);
    trim::Movie movie;
    std::wstring problem;
    if (!trim::ReadMovie(file, movie, problem)) {
        if (problem.empty()) __builtin_trap();
        return 0;
    }
    const int64_t length = movie.durationUs / 1000;
    trim::CutMade made;
    if (!trim::Cut(file, movie, length / 3, length - length / 4 + 1, file, made, problem)) return 0;
    if (made.bytes != file.written_.size() || made.endUs <= made.startUs) __builtin_trap();
    Bytes copy(file.written_.data(), file.written_.size());
    trim::Movie again;
    if (!trim::ReadMovie(copy, again, problem)) __builtin_trap();
    return 0;
}
