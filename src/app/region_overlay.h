#pragma once
// The selection of a region: the monitor under the pointer, frozen and
// dimmed, over which the user drags a rectangle.
#include <windows.h>

#include "capture/region_core.h"

enum class RegionUse { Screenshot, Recording };

// Opens the selection on the monitor under the pointer; a selection already
// open is brought forward instead. When the user accepts a rectangle of at
// least 16 x 16 pixels, the selection closes and, once the screen no longer
// shows it, `RegionChosen` runs on the user-interface thread.
void ChooseRegion(RegionUse use);

// Called by the main window's region timer: hands the accepted rectangle on.
void RegionTimerFired();

// Closes an open selection and forgets an accepted one not yet handed on.
void CancelRegion();

LRESULT CALLBACK RegionOverlayProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// What the shell does with an accepted rectangle (`area` in the monitor's
// pixels from its top left corner).
void RegionChosen(RegionUse use, HMONITOR monitor, const ScreenRect& area);
