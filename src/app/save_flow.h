#pragma once
// Saving a capture to the library from the tray: one save at a time, on a
// worker thread, with its progress in the tray tool tip; new captures saved
// by themselves when the user asked for it; the saved capture's link.
#include <windows.h>

#include <string>

// User-interface thread. Signed out: opens the sign-in window instead.
void SaveToLibrary(const std::wstring& path);
// Lets the user pick a capture file, then saves it.
void SaveWithPicker();

// A capture this run has just written (never a recovered one): saved by
// itself when the setting asks for it and the user is signed in, after the
// saves before it.
void SaveNewCapture(const std::wstring& path);
// The program is ending: no capture starts a save by itself any more.
void StopSavingNewCaptures();
// Signing out or turning the setting off: the captures still waiting are
// left for "Save to library".
void ForgetWaitingSaves();
// CLOUD_UPLOAD_SAVED and CLOUD_UPLOAD_FAILED: the notice of the save that
// ended, the link on the clipboard, then the next capture waiting.
void SaveEnded(WPARAM code, LPARAM lParam);

// The link of the last capture saved in this run; empty when none.
const std::wstring& LastSavedLink();
// Puts that link on the clipboard again.
void CopyLastSavedLink();
