#pragma once
#include <windows.h>

// Opens the settings window, or brings the open one to the front.
void OpenSettingsWindow();
LRESULT CALLBACK SettingsWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
