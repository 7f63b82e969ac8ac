#include "common/clipboard.h"

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
