#pragma once
// The screenshot editor's window: the picture with its tool strip, the
// mouse and keys that draw on it, and saving, copying and passing it on.
#include <windows.h>

#include <string>

// Opens `path` in a new editor window; false with the sentence when the
// picture cannot be read. User-interface thread.
bool OpenEditor(const std::wstring& path, std::wstring& problem);
// The same, telling the user in a message box when it cannot.
void OpenEditorOrSay(const std::wstring& path);

// A second start with "--edit PATH" hands the path to the copy that runs,
// by WM_COPYDATA to its main window. False when that copy did not take it.
bool SendEditRequest(HWND running, const std::wstring& path);
// The path of such a request; false for anything else sent by WM_COPYDATA.
bool EditRequestFromCopy(const COPYDATASTRUCT* data, std::wstring& path);

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
