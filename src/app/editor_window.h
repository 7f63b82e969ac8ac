#pragma once
// The screenshot editor's window: the picture with its tool strip, the
// mouse and keys that draw on it, and saving, copying and passing it on.
#include <windows.h>

#include <string>

// Opens `path` in a new editor window, which shows that the picture is
// being read while another thread reads it; a picture that cannot be read
// (or would not fit in memory) closes the window with a message box. False
// with the sentence when the window cannot open. User-interface thread.
bool OpenEditor(const std::wstring& path, std::wstring& problem);
// The same, telling the user in a message box when it cannot.
void OpenEditorOrSay(const std::wstring& path);

// Quit: each editor with changes asks whether to save them; false when the
// user cancelled on one of them (every editor then stays open). Otherwise
// every editor is closed.
bool CloseEditorsForQuit();
// The program ends without asking (closed by OstrelSetup, the session's
// end): changes are saved to new files beside their originals, replacing
// nothing, noted for the next start, and every editor is closed.
void KeepEditorChanges();
// At start: says which changes were kept when the program last ended.
void TellKeptEdits();

// A second start with "--edit PATH" hands the path to the copy that runs,
// by WM_COPYDATA to its main window. False when that copy did not take it.
bool SendEditRequest(HWND running, const std::wstring& path);
// The path of such a request; false for anything else sent by WM_COPYDATA.
bool EditRequestFromCopy(const COPYDATASTRUCT* data, std::wstring& path);

// The reader's report to its window: the picture is read, or could not be.
constexpr UINT WM_EDITOR_LOADED = WM_APP + 40;

LRESULT CALLBACK EditorWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The editor's commands (WM_COMMAND), from its strip and its keys.
constexpr WORD IDE_TOOL = 500;     // + the tool's number (editor::Tool)
constexpr WORD IDE_COLOUR = 520;   // + the colour's place in editor::kColours
constexpr WORD IDE_WIDTH = 530;    // + the width's place in editor::kWidths
constexpr WORD IDE_UNDO = 540;
constexpr WORD IDE_REDO = 541;
constexpr WORD IDE_COPY = 542;
constexpr WORD IDE_SAVE = 543;
constexpr WORD IDE_SAVE_AS = 544;
constexpr WORD IDE_LIBRARY = 545;
constexpr WORD IDE_FIT = 546;
constexpr WORD IDE_ACTUAL = 547;
constexpr WORD IDE_DELETE = 548;
constexpr WORD IDE_APPLY = 549;  // the crop, as Enter applies it
