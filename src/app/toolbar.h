#pragma once
// The always-on-top recording toolbar.

// Creates the toolbar and shows it without taking the focus; sets
// ToolbarWindow and HideFromCaptureOk.
void CreateToolbar();
// Brings the toolbar's texts and buttons in line with the recording state.
void UpdateToolbar();
