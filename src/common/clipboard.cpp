#include "common/clipboard.h"

namespace {

// A window of the calling thread's own for as long as the clipboard is
// open: SetClipboardData fails when the clipboard was opened without one.
// It goes again at once, so no other program ever waits on a window whose
// thread takes no messages; what was put on the clipboard stays there.
class TemporaryOwner {
public:
    TemporaryOwner() {
        window_ = CreateWindowExW(0, L"STATIC", L"NIRA Ostrel clipboard", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    }
    ~TemporaryOwner() {
        if (window_ != nullptr) DestroyWindow(window_);
    }
    TemporaryOwner(const TemporaryOwner&) = delete;
    TemporaryOwner& operator=(const TemporaryOwner&) = delete;
    HWND Get() const { return window_; }

private:
    HWND window_ = nullptr;
};

}  // namespace

bool PutOnClipboard(UINT format, size_t bytes, const std::function<void(uint8_t*)>& fill, HWND owner, int attempts) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (block == nullptr) return false;
    auto* target = static_cast<uint8_t*>(GlobalLock(block));
    if (target == nullptr) {
        GlobalFree(block);
        return false;
    }
    fill(target);
    GlobalUnlock(block);
    TemporaryOwner temporary;
    if (owner == nullptr) owner = temporary.Get();
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (attempt > 0) Sleep(20);
        if (!OpenClipboard(owner)) continue;
        EmptyClipboard();
        const bool taken = SetClipboardData(format, block) != nullptr;
        CloseClipboard();
        if (!taken) GlobalFree(block);
        return taken;
    }
    GlobalFree(block);
    return false;
}
