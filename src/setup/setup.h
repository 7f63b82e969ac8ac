#pragma once
// OstrelSetup's platform side: installing, uninstalling, and the pieces both
// share (closing a running OstrelWindows, the registration key, known folders).
#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "setup/setup_core.h"

// Exit codes of OstrelSetup.
enum SetupExit : int {
    SETUP_DONE = 0,
    SETUP_CANCELLED = 2,
    SETUP_STILL_RUNNING = 3,
    SETUP_NOT_WRITTEN = 4,
    SETUP_NOT_INSTALLED = 5,
    SETUP_NO_TEMPORARY_COPY = 6,
    SETUP_IN_USE = 7,
};

int Install(const SetupOptions& options);
int Uninstall(const SetupOptions& options);

// True when no OstrelWindows of this user runs any more. Under a registration
// key other than the default a running program is left alone.
bool CloseRunningApp(const std::wstring& reg_key);
bool ExtractApp(const std::wstring& path);
bool MakeShortcut(const std::wstring& linkPath, const std::wstring& targetPath);
// A REG_SZ value's text; empty when missing, of another type, or not fitting 2048
// bytes with its terminator.
std::wstring ReadRegString(HKEY key, const wchar_t* valueName);
// Writes each value; a value that cannot be written is skipped.
void WriteRegValues(HKEY key, const std::vector<RegistryValue>& values);
// Made when missing; empty when unknown.
std::wstring KnownFolder(const KNOWNFOLDERID& id);

// Where this program itself runs from.
std::wstring OwnPath();
// The same path, compared the way the file system does (no regard to case).
bool SamePath(const std::wstring& a, const std::wstring& b);
// A folder given on the command line as a full path without trailing separators.
std::wstring FullFolderPath(const std::wstring& folder);

// A message box of OstrelSetup: no owner window, the title "NIRA Ostrel".
int SetupMessage(const std::wstring& text, UINT flags);
