#pragma once
#include <windows.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <cstdint>
#include <string>

#include "capture/region_core.h"
#include "storage/step_trace_core.h"

// One picture of `monitor`, or of `area` of it (the monitor's pixels from its
// top left corner; all zero for the whole monitor), saved as a 24-bit PNG at
// `path` (written as path + ".part" and moved into place when complete), and
// copied to the clipboard when asked (`copied`, when given, says whether it
// was). Uses its own device and capture, so it
// may run during a recording. The calling thread must have joined a COM
// apartment. Each step's time goes to `trace` when given.
bool TakeScreenshot(HMONITOR monitor, bool cursor, const std::wstring& path, bool copyToClipboard, std::wstring& problem,
                    const ScreenRect& area = {}, StepTrace* trace = nullptr, bool* copied = nullptr);

// Saves a B8G8R8A8 picture (top row first, `pitch` bytes per row) as a 24-bit
// PNG at `path` the same way, copying it to the clipboard first when asked
// (`copied`, when given, says whether the clipboard took it). With
// `replace`, a file of that name is replaced (once the new one is complete).
bool SavePicture(const uint8_t* pixels, uint32_t width, uint32_t height, uint32_t pitch, const std::wstring& path,
                 bool copyToClipboard, std::wstring& problem, StepTrace* trace = nullptr, bool replace = false,
                 bool* copied = nullptr);

// How long a screenshot waits for a clipboard another program holds: 25
// tries 20 ms apart, half a second in all. Never on the user-interface thread.
constexpr int kScreenshotClipboardTries = 25;

// Puts a B8G8R8A8 picture (top row first, `pitch` bytes per row) on the
// clipboard as CF_DIB, trying `attempts` times; false when the clipboard did
// not take it.
bool CopyBitmapToClipboard(const uint8_t* pixels, uint32_t width, uint32_t height, uint32_t pitch, int attempts = 1);

// A PNG file at `file` ready for `height` rows of `format`, written by the
// caller with frame->WritePixels and finished with frame->Commit and
// encoder->Commit. Its rows are filtered from the row above. Fails with
// WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT when the encoder offers another format.
HRESULT StartPng(const std::wstring& file, uint32_t width, uint32_t height, const WICPixelFormatGUID& format,
                 Microsoft::WRL::ComPtr<IWICBitmapEncoder>& encoder, Microsoft::WRL::ComPtr<IWICBitmapFrameEncode>& frame);
