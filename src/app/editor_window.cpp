#include "app/editor_window.h"

#include <windowsx.h>
#include <commdlg.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <random>
#include <vector>

#include "app/capture_flows.h"
#include "app/shell.h"
#include "app/tray.h"
#include "capture/screenshot.h"
#include "app/save_flow.h"
#include "cloud/utf8_core.h"
#include "common/copy_request.h"
#include "common/paint_parts.h"
#include "common/steady_clock.h"
#include "editor/editor_core.h"
#include "editor/editor_picture.h"
#include "app/editor_view.h"
#include "storage/folders.h"
#include "storage/log.h"
#include "storage/step_trace_core.h"
#include "storage/whole_file.h"

namespace editor_ui {

struct LoadSlot {
    std::mutex lock;
    bool done = false, read = false;
    LoadedPicture loaded;
    std::wstring problem;
};

}  // namespace editor_ui

namespace {

using namespace editor_ui;

constexpr wchar_t kCaption[] = L"NIRA Ostrel: editor";

Editor* Of(HWND window) { return reinterpret_cast<Editor*>(GetWindowLongPtrW(window, GWLP_USERDATA)); }

// The open editors, oldest first.
std::vector<HWND>& Editors() {
    static std::vector<HWND> windows;
    return windows;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

FileIdentity IdentityOf(const std::wstring& path) {
    FileIdentity id;
    HANDLE file = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return id;
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileInformationByHandle(file, &info)) {
        id.known = true;
        id.volume = info.dwVolumeSerialNumber;
        id.index = static_cast<uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    }
    CloseHandle(file);
    return id;
}

bool SameFile(const FileIdentity& a, const FileIdentity& b) { return a.known && b.known && a == b; }

uint64_t RandomSeed() {
    static std::random_device device;
    return static_cast<uint64_t>(device()) << 32 ^ device() ^ GetTickCount64();
}

bool Modified(const Editor& e) { return e.document && (e.document->Modified() || (e.typing && !e.typed.empty())); }

void EndText(Editor& e, bool keep) {
    if (!e.typing) return;
    e.typing = false;
    if (keep && !e.typed.empty()) {
        editor::Shape text;
        text.kind = editor::ShapeKind::Text;
        text.colour = e.colour;
        text.width = e.width;
        text.points = {e.textAt};
        text.text = e.typed;
        e.document->Add(text);
    }
    e.typed.clear();
    Changed(e);
    Title(e);
}

// Leaves whatever the current tool is in the middle of.
void Settle(Editor& e) {
    EndText(e, true);
    e.dragging = false;
    e.path.clear();
    if (e.cropping) {
        e.cropping = false;
        InvalidateRect(e.window, nullptr, FALSE);
    }
    Changed(e);
}

void ChooseTool(Editor& e, Tool tool) {
    Settle(e);
    e.tool = tool;
    if (tool != Tool::Select && e.selected != 0) {
        e.selected = 0;
        InvalidateRect(e.window, nullptr, FALSE);
    }
    if (tool == Tool::Crop) {
        e.cropping = true;
        e.crop = e.document->Base().Bounds();
        InvalidateRect(e.window, nullptr, FALSE);
    }
    ShowChoices(e);
}

void AfterHistory(Editor& e) {
    e.selected = 0;
    e.moved = {};
    Rebuild(e);
    Title(e);
}

// Writes the edited picture to `path`; `replace` only for a file this
// window wrote itself or that the user chose to replace. False with the
// sentence.
bool WriteTo(Editor& e, const std::wstring& path, bool replace, std::wstring& problem) {
    EndText(e, true);
    editor::Picture flat;
    if (!Flatten(*e.document, flat, problem) || !SaveEditedPicture(flat, path, replace, problem)) return false;
    e.target = path;
    e.written = IdentityOf(path);
    e.document->MarkSaved();
    Title(e);
    return true;
}

bool SaveTo(Editor& e, const std::wstring& path, bool replace) {
    std::wstring problem;
    if (!WriteTo(e, path, replace, problem)) {
        MessageBoxW(e.window, problem.c_str(), kCaption, MB_ICONWARNING);
        return false;
    }
    Log(L"Edited picture saved: %s", path.c_str());
    ShowBalloon(L"Edited picture saved", path, BALLOON_INFO, {NoticeAction::Kind::ShowInFolder, path});
    return true;
}

// Save: the file this window saved to before, else the first free name
// beside the original; a file someone else put there meanwhile is kept.
bool Save(Editor& e) {
    std::wstring path = e.target;
    bool replace = false;
    if (Exists(path)) {
        replace = SameFile(IdentityOf(path), e.written);
        if (!replace) path = editor::FreeEditedPath(e.opened, Exists);
    }
    if (path.empty()) {
        MessageBoxW(e.window, L"There is no free name for the edited picture beside the original. Use Save as to choose one.",
                    kCaption, MB_ICONWARNING);
        return false;
    }
    return SaveTo(e, path, replace);
}

void SaveAs(Editor& e) {
    wchar_t file[MAX_PATH] = {};
    wcsncpy(file, e.target.c_str(), MAX_PATH - 1);
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = e.window;
    dialog.lpstrFilter = L"PNG picture (*.png)\0*.png\0";
    dialog.lpstrFile = file;
    dialog.nMaxFile = MAX_PATH;
    dialog.lpstrDefExt = L"png";
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
    if (!GetSaveFileNameW(&dialog)) return;
    // The original stays as it was, however its name is spelt (a short
    // name, another drive letter for the same folder, a \\?\ prefix).
    if (SameFile(IdentityOf(file), IdentityOf(e.opened))) {
        MessageBoxW(e.window, L"The original picture is kept as it is. Choose another name.", kCaption, MB_ICONINFORMATION);
        return;
    }
    SaveTo(e, file, true);  // the dialog asked before a file was replaced
}

void Copy(Editor& e) {
    EndText(e, true);
    editor::Picture flat;
    std::wstring problem;
    if (!Flatten(*e.document, flat, problem)) {
        MessageBoxW(e.window, problem.c_str(), kCaption, MB_ICONWARNING);
        return;
    }
    if (!CopyBitmapToClipboard(flat.pixels.data(), static_cast<uint32_t>(flat.width), static_cast<uint32_t>(flat.height),
                               static_cast<uint32_t>(flat.width) * 4))
        MessageBoxW(e.window, L"The picture could not be put on the clipboard. Try again.", kCaption, MB_ICONWARNING);
}

void Command(Editor& e, WORD id) {
    if (id >= IDE_TOOL && id < IDE_TOOL + editor::kToolCount) {
        ChooseTool(e, static_cast<Tool>(id - IDE_TOOL));
    } else if (IsColour(id)) {
        e.colour = editor::kColours[id - IDE_COLOUR];
        if (e.selected != 0 && e.document->Recolour(e.selected, e.colour)) Title(e);
        if (e.typing) Changed(e);
        InvalidateRect(e.window, nullptr, FALSE);
        ShowChoices(e);
    } else if (id >= IDE_WIDTH && id < IDE_WIDTH + 3) {
        e.width = editor::kWidths[id - IDE_WIDTH];
        ShowChoices(e);
    } else if (id == IDE_UNDO || id == IDE_REDO) {
        Settle(e);
        if (id == IDE_UNDO ? e.document->Undo() : e.document->Redo()) AfterHistory(e);
    } else if (id == IDE_COPY) {
        Copy(e);
    } else if (id == IDE_SAVE) {
        Save(e);
    } else if (id == IDE_SAVE_AS) {
        SaveAs(e);
    } else if (id == IDE_LIBRARY) {
        if (Modified(e) || !SameFile(IdentityOf(e.target), e.written)) {
            if (!Save(e)) return;
        }
        SaveToLibrary(e.target);
    } else if (id == IDE_FIT || id == IDE_ACTUAL) {
        e.fit = id == IDE_FIT;
        Rebuild(e);
    } else if (id == IDE_DELETE) {
        if (e.selected != 0 && e.document->Delete(e.selected)) {
            e.selected = 0;
            InvalidateRect(e.window, nullptr, FALSE);  // the steps after it renumber
            Title(e);
        }
    } else if (id == IDE_APPLY) {
        if (e.cropping && e.document->Crop(e.crop)) {
            e.cropping = false;
            AfterHistory(e);
            ChooseTool(e, Tool::Select);
        }
    }
}

void MouseDown(Editor& e, Point p) {
    SetFocus(e.window);
    if (e.typing) {
        // A click elsewhere commits the text.
        EndText(e, true);
        if (e.tool == Tool::Text) return;
    }
    switch (e.tool) {
        case Tool::Select: {
            const uint64_t hit = e.document->HitTest(p, std::max(3, static_cast<int>(4 / e.scale)));
            if (hit != e.selected) InvalidateRect(e.window, nullptr, FALSE);
            e.selected = hit;
            e.moved = {};
            e.dragging = hit != 0;
            e.start = e.now = p;
            break;
        }
        case Tool::Text:
            e.typing = true;
            e.textAt = p;
            e.typed.clear();
            break;
        case Tool::Step: {
            editor::Shape step;
            step.kind = editor::ShapeKind::Step;
            step.colour = e.colour;
            step.width = e.width;
            step.points = {p};
            InvalidatePicture(e, e.document->Bounds(*e.document->Find(e.document->Add(step))));
            Title(e);
            return;
        }
        case Tool::Crop:
            e.handle = editor::HandleAt(e.crop, p, std::max(6, static_cast<int>(10 / e.scale)));
            if (e.handle == editor::Handle::None) {
                // Outside the crop: a new one is dragged.
                e.crop = {p.x, p.y, p.x, p.y};
                e.handle = editor::Handle::BottomRight;
            }
            e.dragging = true;
            e.start = e.now = p;
            break;
        default:
            e.dragging = true;
            e.start = e.now = p;
            e.path = {p};
            break;
    }
    SetCapture(e.window);
    Changed(e);
}

void MouseMove(Editor& e, Point p) {
    if (!e.dragging || (p == e.now)) return;
    if (e.tool == Tool::Crop) {
        const Rect before = e.crop;
        e.crop = editor::DragHandle(e.crop, e.handle, p.x - e.now.x, p.y - e.now.y, e.document->Base().Bounds(), 1);
        e.now = p;
        if (!(before == e.crop)) InvalidateRect(e.window, nullptr, FALSE);
        return;
    }
    e.now = p;
    if (e.tool == Tool::Select) e.moved = {p.x - e.start.x, p.y - e.start.y};
    if (e.tool == Tool::Pen || e.tool == Tool::Highlighter) e.path.push_back(p);
    Changed(e);
}

void MouseUp(Editor& e, Point p) {
    if (!e.dragging) {
        if (GetCapture() == e.window) ReleaseCapture();
        return;
    }
    MouseMove(e, p);
    // Not dragging any more before the capture goes, which tells of it at once.
    e.dragging = false;
    if (GetCapture() == e.window) ReleaseCapture();
    const bool moved = std::abs(e.now.x - e.start.x) + std::abs(e.now.y - e.start.y) >= 3;
    switch (e.tool) {
        case Tool::Select:
            if (e.selected != 0 && (e.moved.x != 0 || e.moved.y != 0)) e.document->Move(e.selected, e.moved.x, e.moved.y);
            e.moved = {};
            break;
        case Tool::Arrow:
        case Tool::Rectangle:
            if (moved) {
                editor::Shape shape;
                Preview(e, shape);
                shape.kind = e.tool == Tool::Arrow ? editor::ShapeKind::Arrow : editor::ShapeKind::Rectangle;
                shape.points = {e.start, e.now};
                e.document->Add(shape);
            }
            break;
        case Tool::Pen:
        case Tool::Highlighter: {
            editor::Shape shape;
            shape.kind = e.tool == Tool::Pen ? editor::ShapeKind::Pen : editor::ShapeKind::Highlighter;
            shape.colour = e.colour;
            shape.width = e.width;
            shape.points = e.path;
            e.document->Add(shape);
            e.path.clear();
            break;
        }
        case Tool::Pixelate:
            if (e.document->Pixelate(editor::DragRect(e.start, e.now, e.document->Base().Bounds()), RandomSeed())) Rebuild(e);
            break;
        case Tool::Redact:
            if (e.document->Redact(editor::DragRect(e.start, e.now, e.document->Base().Bounds()), e.colour)) Rebuild(e);
            break;
        default:
            break;
    }
    Changed(e);
    Title(e);
}

void KeyDown(Editor& e, WPARAM key) {
    Tool tool = e.tool;
    switch (editor::ActionForKey(static_cast<uint32_t>(key), GetKeyState(VK_CONTROL) < 0, GetKeyState(VK_MENU) < 0,
                                 GetKeyState(VK_SHIFT) < 0, e.typing, tool)) {
        case editor::KeyAction::Undo: Command(e, IDE_UNDO); break;
        case editor::KeyAction::Redo: Command(e, IDE_REDO); break;
        case editor::KeyAction::Copy: Command(e, IDE_COPY); break;
        case editor::KeyAction::Save: Command(e, IDE_SAVE); break;
        case editor::KeyAction::SaveAs: Command(e, IDE_SAVE_AS); break;
        case editor::KeyAction::Fit: Command(e, IDE_FIT); break;
        case editor::KeyAction::Actual: Command(e, IDE_ACTUAL); break;
        case editor::KeyAction::Delete: Command(e, IDE_DELETE); break;
        case editor::KeyAction::Apply: Command(e, IDE_APPLY); break;
        case editor::KeyAction::Leave: ChooseTool(e, Tool::Select); break;
        case editor::KeyAction::KeepText: EndText(e, true); break;
        case editor::KeyAction::DropText: EndText(e, false); break;
        case editor::KeyAction::PickTool: ChooseTool(e, tool); break;
        case editor::KeyAction::None: break;
    }
}

void Typed(Editor& e, wchar_t c) {
    if (!e.typing) return;
    if (c == L'\b') {
        if (!e.typed.empty()) e.typed.pop_back();
    } else if (c >= L' ' && e.typed.size() < 500) {
        e.typed += c;
    } else {
        return;
    }
    Changed(e);
}

bool Close(Editor& e) {
    if (!e.document) return true;
    EndText(e, true);
    if (!e.document->Modified()) return true;
    std::wstring shown = e.target;
    if (Exists(shown) && !SameFile(IdentityOf(shown), e.written)) shown = editor::FreeEditedPath(e.opened, Exists);
    const std::wstring question = L"Save the changes to the picture before closing?\n\nYes: save them as " + shown +
                                  L"\nNo: close without saving\nCancel: keep editing";
    switch (MessageBoxW(e.window, question.c_str(), kCaption, MB_YESNOCANCEL | MB_ICONQUESTION)) {
        case IDYES: return Save(e);
        case IDNO: return true;
        default: return false;
    }
}

std::wstring KeptEditsFile() { return DataFolder() + L"\\kept-edits.txt"; }

// What kept-edits.txt holds (its first 64 KiB), or nothing.
std::string ReadKeptEdits() {
    std::string text;
    HANDLE file = CreateFileW(KeptEditsFile().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return text;
    char buffer[4096];
    DWORD got = 0;
    while (text.size() < 65536 && ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
    CloseHandle(file);
    return text;
}

// Saves the changes without asking, to a name that replaces nothing; the
// path, or empty when there was nothing to keep or it could not be kept.
std::wstring Keep(Editor& e) {
    if (!Modified(e)) return {};
    EndText(e, true);
    const std::wstring path = editor::FreeEditedPath(e.opened, Exists);
    std::wstring problem;
    if (path.empty() || !WriteTo(e, path, false, problem)) {
        Log(L"Editor changes to %s could not be kept: %s", e.opened.c_str(),
            path.empty() ? L"no free name beside it" : problem.c_str());
        return {};
    }
    Log(L"Editor changes kept in %s as the program ended", path.c_str());
    return path;
}

// The picture arrived from its reader: the window takes its size and shows it.
void Loaded(Editor& e) {
    std::shared_ptr<LoadSlot> slot = e.loading;
    if (!slot) return;
    LoadedPicture loaded;
    std::wstring problem;
    bool read = false;
    {
        std::lock_guard<std::mutex> hold(slot->lock);
        if (!slot->done) return;
        read = slot->read;
        loaded = std::move(slot->loaded);
        problem = slot->problem;
    }
    e.loading.reset();
    if (!read) {
        Log(L"Editor could not open %s: %s", e.opened.c_str(), problem.c_str());
        DestroyWindow(e.window);
        MessageBoxW(nullptr, problem.c_str(), kCaption, MB_ICONWARNING);
        return;
    }
    StepTrace trace(SteadyTicks(), SteadyFrequency());
    e.frames = loaded.frames;
    e.document = std::make_unique<editor::Document>(std::move(loaded.picture));
    e.target = editor::FreeEditedPath(e.opened, Exists);
    if (e.target.empty()) e.target = editor::EditedPath(e.opened);  // Save says there is no free name
    MakeStrip(e);

    // The picture at its size where the screen has room, else as much as
    // fits, below the strip on one row.
    const editor::Picture& picture = e.document->Base();
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    RECT frame{0, 0, 0, 0};
    AdjustWindowRectEx(&frame, WS_OVERLAPPEDWINDOW, FALSE, 0);
    const int frameX = frame.right - frame.left, frameY = frame.bottom - frame.top;
    const SIZE row = StripRow(e.window);
    const editor::Layout layout = editor::LayoutFor(picture.width, picture.height, row.cx, row.cy,
                                                    (work.right - work.left) - frameX, (work.bottom - work.top) - frameY);
    const int w = layout.clientWidth + frameX, h = layout.clientHeight + frameY;
    SetWindowPos(e.window, nullptr, work.left + (work.right - work.left - w) / 2, work.top + (work.bottom - work.top - h) / 2,
                 w, h, SWP_NOZORDER);
    LayoutStrip(e);
    ShowChoices(e);
    Title(e);
    Rebuild(e);
    trace.Step(L"views", SteadyTicks());
    SetForegroundWindow(e.window);
    SetFocus(e.window);
    UpdateWindow(e.window);
    trace.Step(L"paint", SteadyTicks());
    Log(L"Editor opened: %s (%d x %d at %d %%, shown from %d, %d)", e.opened.c_str(), picture.width, picture.height,
        static_cast<int>(std::lround(e.scale * 100)), static_cast<int>(e.origin.x), static_cast<int>(e.origin.y));
    Log(L"%s", trace.Line(L"Editor open").c_str());
}

}  // namespace

bool OpenEditor(const std::wstring& path, std::wstring& problem) {
    if (!EditorGraphicsReady()) {
        problem = L"The editor could not start its drawing (GDI+).";
        return false;
    }
    auto e = std::make_unique<Editor>();
    e->opened = path;
    e->loading = std::make_shared<LoadSlot>();
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int w = 420, h = 160;
    HWND window = CreateWindowExW(0, kEditorClass, L"NIRA Ostrel", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                                  work.left + (work.right - work.left - w) / 2, work.top + (work.bottom - work.top - h) / 2,
                                  w, h, nullptr, nullptr, Instance, nullptr);
    if (window == nullptr) {
        problem = L"The editor window could not be opened: " + ErrorText(HRESULT_FROM_WIN32(GetLastError()));
        return false;
    }
    e->window = window;
    // A picture of hundreds of megabytes takes seconds to read: another
    // thread reads it, so the toolbar's clock and the shortcuts go on.
    std::shared_ptr<LoadSlot> slot = e->loading;
    DWORD error = 0;
    if (!StartDetachedThread(
            [slot, window, path] {
                const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
                LoadedPicture loaded;
                std::wstring problem;
                bool read = false;
                try {
                    read = LoadPicture(path, loaded, problem);
                } catch (const std::bad_alloc&) {
                    loaded = {};
                    problem = L"There is not enough memory free to open this picture. Close some programs and try again.";
                }
                {
                    std::lock_guard<std::mutex> hold(slot->lock);
                    slot->read = read;
                    slot->loaded = std::move(loaded);
                    slot->problem = std::move(problem);
                    slot->done = true;
                }
                // A window closed meanwhile takes nothing; the picture goes with the slot.
                PostMessageW(window, WM_EDITOR_LOADED, 0, 0);
                if (SUCCEEDED(com)) CoUninitialize();
            },
            error)) {
        DestroyWindow(window);
        problem = L"The editor could not start reading the picture: " + ErrorText(HRESULT_FROM_WIN32(error));
        return false;
    }
    Editor* const editorState = e.release();
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(editorState));
    Editors().push_back(window);
    Title(*editorState);
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    UpdateWindow(window);
    return true;
}

bool CloseEditorsForQuit() {
    const std::vector<HWND> windows = Editors();
    for (HWND window : windows) {
        Editor* e = Of(window);
        if (e == nullptr || !Modified(*e)) continue;
        ShowWindow(window, SW_RESTORE);
        SetForegroundWindow(window);
        if (!Close(*e)) return false;
        e->document->MarkSaved();  // answered: not asked again below
    }
    for (HWND window : windows)
        if (IsWindow(window)) DestroyWindow(window);
    return true;
}

void KeepEditorChanges() {
    std::string kept;
    std::wstring last;
    const std::vector<HWND> windows = Editors();
    for (HWND window : windows) {
        if (Editor* e = Of(window)) {
            const std::wstring path = Keep(*e);
            if (!path.empty()) {
                kept += WideToUtf8(path) + "\n";
                last = path;
            }
        }
        if (IsWindow(window)) DestroyWindow(window);
    }
    if (kept.empty()) return;
    // Added to what an earlier end kept, in case nobody started us since.
    const std::string all = ReadKeptEdits() + kept;
    ReplaceWholeFile(KeptEditsFile(), all.data(), static_cast<uint32_t>(all.size()));
}

void TellKeptEdits() {
    const std::string text = ReadKeptEdits();
    if (text.empty()) return;
    DeleteFileW(KeptEditsFile().c_str());
    std::vector<std::wstring> paths;
    for (size_t at = 0; at < text.size();) {
        const size_t end = std::min(text.find('\n', at), text.size());
        if (end > at) paths.push_back(Utf8ToWide(std::string_view(text).substr(at, end - at)));
        at = end + 1;
    }
    if (paths.empty()) return;
    const std::wstring message =
        paths.size() == 1
            ? L"Ostrel ended while a picture had unsaved changes. They were saved as " + paths.back() + L"."
            : L"Ostrel ended while " + std::to_wstring(paths.size()) +
                  L" pictures had unsaved changes. They were saved beside their originals, the last as " + paths.back() + L".";
    ShowBalloon(L"Edits kept", message, BALLOON_INFO, {NoticeAction::Kind::ShowInFolder, paths.back()});
}

namespace {
constexpr ULONG_PTR kEditRequestTag = 0x4F53454Eu;  // marks our own requests among WM_COPYDATA
}  // namespace

bool SendEditRequest(HWND running, const std::wstring& path) { return SendPathByCopy(running, kEditRequestTag, path); }

bool EditRequestFromCopy(const COPYDATASTRUCT* data, std::wstring& path) {
    return PathFromCopy(data, kEditRequestTag, path);
}

void OpenEditorOrSay(const std::wstring& path) {
    std::wstring problem;
    if (!OpenEditor(path, problem)) MessageBoxW(nullptr, problem.c_str(), L"NIRA Ostrel: editor", MB_ICONWARNING);
}

namespace {

LRESULT Handle(HWND window, Editor* const e, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_EDITOR_LOADED:
            Loaded(*e);
            return 0;
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT:
            PaintUpdatedParts(window, [e](HDC dc, const RECT& rect) { Paint(*e, dc, rect); });
            return 0;
        case WM_CLOSE:
            if (Close(*e)) DestroyWindow(window);
            return 0;
        case WM_QUERYENDSESSION:
            // Nothing holds the session's end: the changes are saved when it
            // comes, and Windows is told why we are busy until then.
            if (Modified(*e) && !e->blocking)
                e->blocking = ShutdownBlockReasonCreate(window, L"Saving the changes to a picture.") != FALSE;
            return TRUE;
        case WM_ENDSESSION:
            if (wParam != 0) KeepEditorChanges();
            else if (e->blocking && ShutdownBlockReasonDestroy(window)) e->blocking = false;
            return 0;
        case WM_DESTROY:
            if (e->blocking) ShutdownBlockReasonDestroy(window);
            KillTimer(window, kSmoothView);
            std::erase(Editors(), window);
            SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            delete e;
            return 0;
        default:
            break;
    }
    // Until the picture is read there is nothing to draw on.
    if (!e->document) return DefWindowProcW(window, message, wParam, lParam);
    switch (message) {
        case WM_TIMER:
            if (wParam == kSmoothView) Smooth(*e);
            return 0;
        case WM_SIZE:
            LayoutStrip(*e);
            Rebuild(*e);
            return 0;
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            if (item != nullptr && IsColour(static_cast<WORD>(item->CtlID))) DrawSwatch(*e, *item);
            return TRUE;
        }
        case WM_COMMAND:
            Command(*e, LOWORD(wParam));
            // The strip's buttons give the keys back to the picture.
            if (lParam != 0) SetFocus(window);
            return 0;
        case WM_LBUTTONDOWN:
            MouseDown(*e, ToPicture(*e, lParam));
            return 0;
        case WM_MOUSEMOVE:
            MouseMove(*e, ToPicture(*e, lParam));
            return 0;
        case WM_LBUTTONUP:
            MouseUp(*e, ToPicture(*e, lParam));
            return 0;
        case WM_CAPTURECHANGED:
            if (e->dragging && reinterpret_cast<HWND>(lParam) != window) Settle(*e);
            return 0;
        case WM_KEYDOWN:
            KeyDown(*e, wParam);
            return 0;
        case WM_CHAR:
            Typed(*e, static_cast<wchar_t>(wParam));
            return 0;
        case WM_ACTIVATE:
            if (LOWORD(wParam) != WA_INACTIVE) SetFocus(window);
            return 0;
        default:
            break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

LRESULT CALLBACK EditorWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Editor* const e = Of(window);
    if (e == nullptr) return DefWindowProcW(window, message, wParam, lParam);
    // Nothing the editor does may end the program, and a recording with it.
    try {
        return Handle(window, e, message, wParam, lParam);
    } catch (const std::bad_alloc&) {
        Log(L"Editor ran out of memory in message 0x%04X", message);
        MessageBoxW(window, L"There was not enough memory for that, so it was not done. Save your work, or close some programs.",
                    kCaption, MB_ICONWARNING);
    } catch (...) {
        Log(L"Editor failed in message 0x%04X", message);
        MessageBoxW(window, L"That could not be done in the editor. Save your work and try again.", kCaption, MB_ICONWARNING);
    }
    return 0;
}
