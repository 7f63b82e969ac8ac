#pragma once
// A path handed by a second start of the program to the copy that runs, by
// WM_COPYDATA to its main window; the tag says what the path is for.
#include <windows.h>

#include <string>

// False when that copy did not take it (or the path is empty or too long).
bool SendPathByCopy(HWND running, ULONG_PTR tag, const std::wstring& path);
// The path of such a request with this tag; false for anything else.
bool PathFromCopy(const COPYDATASTRUCT* data, ULONG_PTR tag, std::wstring& path);
