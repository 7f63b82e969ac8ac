#pragma once
// The camera bubble: a round window on top of the others that shows the
// camera as a mirror would. It is an ordinary window on the screen, so a
// recording of a monitor or a region holds it; the camera is open only
// while it shows, on a reading thread of its own.
#include <windows.h>

// Shows the bubble, or takes it away when it shows.
void ToggleCamera();
bool CameraShowing();
// Takes the bubble away, if it shows; the camera is released by its thread.
void HideCamera();

LRESULT CALLBACK CameraWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
