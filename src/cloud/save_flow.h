#pragma once
// Saving a capture to the library from the tray: one save at a time, on a
// worker thread, with its progress in the tray tool tip.
#include <string>

// User-interface thread. Signed out: opens the sign-in window instead.
void SaveToLibrary(const std::wstring& path);
// Lets the user pick a capture file, then saves it.
void SaveWithPicker();
