#pragma once
// WM_PAINT by the rectangles that need painting, not their bounding box: a
// drag that changes two small corners of a large window repaints only those.
#include <windows.h>

#include <cstdint>
#include <vector>

// Calls paintRect(dc, rect) for each rectangle of the update region (or once
// for the whole paint rectangle when the region is one rectangle or cannot be
// read), between BeginPaint and EndPaint.
template <class PaintRect>
void PaintUpdatedParts(HWND window, PaintRect paintRect) {
    HRGN update = CreateRectRgn(0, 0, 0, 0);
    const bool parts = update != nullptr && GetUpdateRgn(window, update, FALSE) == COMPLEXREGION;
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    const DWORD bytes = parts ? GetRegionData(update, 0, nullptr) : 0;
    std::vector<uint8_t> data(bytes);
    auto* region = reinterpret_cast<RGNDATA*>(data.data());
    if (bytes != 0 && GetRegionData(update, bytes, region) == bytes) {
        const auto* rects = reinterpret_cast<const RECT*>(region->Buffer);
        for (DWORD i = 0; i < region->rdh.nCount; ++i) paintRect(dc, rects[i]);
    } else {
        paintRect(dc, paint.rcPaint);
    }
    EndPaint(window, &paint);
    if (update != nullptr) DeleteObject(update);
}
