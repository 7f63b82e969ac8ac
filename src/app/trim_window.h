#pragma once
// The trim window: a recording's picture at the playhead, a timeline with
// the start and end of the part to keep, and saving that part as a new file
// beside the original, or to the library. The original is only read.
#include <windows.h>

#include <string>

// Opens `path` in a new trim window, which reads the recording's index and
// its pictures on a thread of its own. False with the sentence when the
// window cannot open; a file that cannot be trimmed is told in a message
// box once it has been read. User-interface thread.
bool OpenTrimWindow(const std::wstring& path, std::wstring& problem);
// The same, telling the user in a message box when it cannot.
void OpenTrimWindowOrSay(const std::wstring& path);

// Quit: each trim window whose part to keep was changed and not saved asks
// first; false when the user cancelled (every window then stays open).
// Otherwise every trim window is closed.
bool CloseTrimWindowsForQuit();
// The program ends without asking: every trim window is closed.
void CloseTrimWindows();

// A second start with "--trim PATH" hands the path to the copy that runs,
// as "--edit" does. False when that copy did not take it.
bool SendTrimRequest(HWND running, const std::wstring& path);
// The path of such a request; false for anything else sent by WM_COPYDATA.
bool TrimRequestFromCopy(const COPYDATASTRUCT* data, std::wstring& path);

// The window's thread reports: the index is read, a picture is ready, a save ended.
constexpr UINT WM_TRIM_INDEX = WM_APP + 50;
constexpr UINT WM_TRIM_PICTURE = WM_APP + 51;
constexpr UINT WM_TRIM_SAVED = WM_APP + 52;

// Its buttons (WM_COMMAND).
constexpr WORD IDT_SAVE = 600;
constexpr WORD IDT_LIBRARY = 601;

LRESULT CALLBACK TrimWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
