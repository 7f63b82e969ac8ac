#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <functional>

// Replaces what the clipboard holds with `bytes` bytes in `format`, written
// by `fill` into the block the clipboard will own, with `owner` (or, when
// null, a window of the calling thread's for that moment) as its owner.
// Another program may hold the clipboard for a moment: it is opened up to
// `attempts` times, 20 ms apart. False when the clipboard did not take the
// block.
bool PutOnClipboard(UINT format, size_t bytes, const std::function<void(uint8_t*)>& fill, HWND owner = nullptr,
                    int attempts = 1);
