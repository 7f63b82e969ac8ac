#pragma once
// The selection of a region: the monitor under the pointer, frozen and
// dimmed, over which the user drags a rectangle.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "capture/region_core.h"

enum class RegionUse { Screenshot, Recording };

// A picture in memory: B8G8R8A8 rows of width * 4 bytes, top row first.
struct StillPicture {
    std::vector<uint8_t> pixels;
    uint32_t width = 0;
    uint32_t height = 0;
};

// What the selection hands to the main window (WM_REGION_DONE, its object
// posted as common/posted.h hands objects over).
struct RegionResult {
    RegionUse use = RegionUse::Screenshot;
    HMONITOR monitor = nullptr;
    ScreenRect area;  // in the monitor's pixels from its top left corner
    // For a screenshot: the rectangle exactly as the frozen screen showed it
    // when the selection opened, with the pointer as it was then when the
    // setting asks for it.
    std::shared_ptr<const StillPicture> picture;
};

// Opens the selection on the monitor under the pointer. A selection already
// open takes the new purpose instead, and says so. When the user accepts a
// rectangle of at least 16 x 16 pixels, the selection closes and posts the
// result to the main window; one too small is refused with its sentence.
void ChooseRegion(RegionUse use);

// Closes an open selection, if any.
void CancelRegion();

LRESULT CALLBACK RegionOverlayProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
