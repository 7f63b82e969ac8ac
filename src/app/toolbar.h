#pragma once
// The always-on-top recording toolbar.
#include <windows.h>

// Creates the toolbar and shows it without taking the focus; sets
// ToolbarWindow and HideFromCaptureOk.
// Shown at once unless `show` is false.
void CreateToolbar(bool show = true);
// Brings the primary button's caption and the Stop button in line with the
// recording state, and repaints.
void UpdateToolbar();
LRESULT CALLBACK ToolbarWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
bool IsHighContrast();
