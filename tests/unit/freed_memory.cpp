#include "freed_memory.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// Each block carries its size in front, so every form of delete can search it.
constexpr size_t kHeader = 16;
thread_local FreedMemoryWatch* watch = nullptr;

bool Holds(const unsigned char* block, size_t size, const std::string& needle) {
    if (needle.empty() || size < needle.size()) return false;
    for (size_t i = 0; i + needle.size() <= size; ++i) {
        if (std::memcmp(block + i, needle.data(), needle.size()) == 0) return true;
    }
    return false;
}

void Release(void* pointer) noexcept {
    if (pointer == nullptr) return;
    auto* block = static_cast<unsigned char*>(pointer) - kHeader;
    size_t size = 0;
    std::memcpy(&size, block, sizeof size);
    if (watch != nullptr) watch->Look(block + kHeader, size);
    std::free(block);
}

}  // namespace

FreedMemoryWatch::FreedMemoryWatch(std::string_view needle) : narrow_(needle) {
    for (const char c : needle) {
        wide_.push_back(c);
        wide_.push_back('\0');
    }
    watch = this;
}

FreedMemoryWatch::~FreedMemoryWatch() { watch = nullptr; }

void FreedMemoryWatch::Look(const unsigned char* block, size_t size) {
    if (Holds(block, size, narrow_) || Holds(block, size, wide_)) ++seen_;
}

void* operator new(size_t size) {
    auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
    if (block == nullptr) throw std::bad_alloc();
    std::memcpy(block, &size, sizeof size);
    return block + kHeader;
}

void operator delete(void* pointer) noexcept { Release(pointer); }
void operator delete(void* pointer, size_t) noexcept { Release(pointer); }
