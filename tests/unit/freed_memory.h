#pragma once
// What the test's own thread frees through operator delete, searched for a
// piece of text, narrow or widened to UTF-16: a secret must be wiped before
// the memory that held it goes back to the heap. Only the OstrelUnitTests
// build carries the operators that make this possible.
#include <string>
#include <string_view>

class FreedMemoryWatch {
public:
    explicit FreedMemoryWatch(std::string_view needle);
    ~FreedMemoryWatch();
    FreedMemoryWatch(const FreedMemoryWatch&) = delete;
    FreedMemoryWatch& operator=(const FreedMemoryWatch&) = delete;

    // Blocks freed on this thread since the watch began that held the needle.
    int Seen() const { return seen_; }
    void Look(const unsigned char* block, size_t size);

private:
    std::string narrow_;
    std::string wide_;
    int seen_ = 0;
};
