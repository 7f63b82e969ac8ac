#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "capture/region_core.h"
#include "storage/step_trace_core.h"

// One picture of `monitor`, or of `area` of it (the monitor's pixels from its
// top left corner; all zero for the whole monitor), saved as a 24-bit PNG at
// `path` (written as path + ".part" and moved into place when complete), and
// copied to the clipboard when asked. Uses its own device and capture, so it
// may run during a recording. The calling thread must have joined a COM
// apartment. Each step's time goes to `trace` when given.
bool TakeScreenshot(HMONITOR monitor, bool cursor, const std::wstring& path, bool copyToClipboard, std::wstring& problem,
                    const ScreenRect& area = {}, StepTrace* trace = nullptr);

// Saves a B8G8R8A8 picture (top row first, `pitch` bytes per row) as a 24-bit
// PNG at `path` the same way, copying it to the clipboard first when asked.
// With `replace`, a file of that name is replaced (once the new one is complete).
bool SavePicture(const uint8_t* pixels, uint32_t width, uint32_t height, uint32_t pitch, const std::wstring& path,
                 bool copyToClipboard, std::wstring& problem, StepTrace* trace = nullptr, bool replace = false);

// Puts a B8G8R8A8 picture (top row first, `pitch` bytes per row) on the
// clipboard as CF_DIB; false when the clipboard did not take it.
bool CopyBitmapToClipboard(const uint8_t* pixels, uint32_t width, uint32_t height, uint32_t pitch);
