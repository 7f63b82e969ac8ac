#pragma once
// The tray menu's "Recent" submenu: the last ten captures of any run, each
// with what can be done with it.
#include <windows.h>

#include <string>

// Fills `menu` from the list (dropping files that have gone) and keeps
// what it offers for the commands it sends.
void FillRecentMenu(HMENU menu, bool signedIn, bool uploading);
// A command of that submenu: false for any other id.
bool DoRecentCommand(WORD id);
// A capture just saved: first in the list, and the last capture of this run.
void NoteCapture(const std::wstring& path);
