#include "editor/editor_window.h"

#include <windowsx.h>
#include <commdlg.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "app/shell.h"
#include "app/tray.h"
#include "capture/screenshot.h"
#include "cloud/save_flow.h"
#include "common/paint_parts.h"
#include "common/steady_clock.h"
#include "editor/editor_core.h"
#include "editor/editor_picture.h"
#include "editor/editor_view.h"
#include "storage/folders.h"
#include "storage/log.h"
#include "storage/step_trace_core.h"

namespace {

using namespace editor_ui;

Editor* Of(HWND window) { return reinterpret_cast<Editor*>(GetWindowLongPtrW(window, GWLP_USERDATA)); }

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

bool SaveTo(Editor& e, const std::wstring& path) {
    EndText(e, true);
    const editor::Picture flat = Flatten(*e.document);
    std::wstring problem;
    if (!SavePicture(flat.pixels.data(), static_cast<uint32_t>(flat.width), static_cast<uint32_t>(flat.height),
                     static_cast<uint32_t>(flat.width) * 4, path, false, problem, nullptr, true)) {
        MessageBoxW(e.window, problem.c_str(), L"NIRA Ostrel: editor", MB_ICONWARNING);
        return false;
    }
    e.target = path;
    e.document->MarkSaved();
    Title(e);
    Log(L"Edited picture saved: %s", path.c_str());
    ShowBalloon(L"Edited picture saved", path, BALLOON_INFO);
    return true;
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
    // The original stays as it was, whatever is chosen.
    if (lstrcmpiW(file, e.opened.c_str()) == 0) {
        MessageBoxW(e.window, L"The original picture is kept as it is. Choose another name.", L"NIRA Ostrel: editor",
                    MB_ICONINFORMATION);
        return;
    }
    SaveTo(e, file);
}

void Copy(Editor& e) {
    EndText(e, true);
    const editor::Picture flat = Flatten(*e.document);
    if (!CopyBitmapToClipboard(flat.pixels.data(), static_cast<uint32_t>(flat.width), static_cast<uint32_t>(flat.height),
                               static_cast<uint32_t>(flat.width) * 4))
        MessageBoxW(e.window, L"The picture could not be put on the clipboard. Try again.", L"NIRA Ostrel: editor",
                    MB_ICONWARNING);
}

void Command(Editor& e, WORD id) {
    if (id >= IDE_TOOL && id < IDE_TOOL + 9) {
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
        SaveTo(e, e.target);
    } else if (id == IDE_SAVE_AS) {
        SaveAs(e);
    } else if (id == IDE_LIBRARY) {
        if (e.document->Modified() || GetFileAttributesW(e.target.c_str()) == INVALID_FILE_ATTRIBUTES) {
            if (!SaveTo(e, e.target)) return;
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
            if (e.document->Pixelate(editor::DragRect(e.start, e.now, e.document->Base().Bounds()))) Rebuild(e);
            break;
        default:
            break;
    }
    Changed(e);
    Title(e);
}

void KeyDown(Editor& e, WPARAM key) {
    const bool ctrl = GetKeyState(VK_CONTROL) < 0, shift = GetKeyState(VK_SHIFT) < 0;
    if (e.typing && !ctrl) {
        if (key == VK_RETURN) EndText(e, true);
        if (key == VK_ESCAPE) EndText(e, false);
        return;
    }
    if (ctrl) {
        switch (key) {
            case 'Z': Command(e, IDE_UNDO); break;
            case 'Y': Command(e, IDE_REDO); break;
            case 'C': Command(e, IDE_COPY); break;
            case 'S': Command(e, shift ? IDE_SAVE_AS : IDE_SAVE); break;
            case '0': Command(e, IDE_FIT); break;
            case '1': Command(e, IDE_ACTUAL); break;
            default: break;
        }
        return;
    }
    Tool tool;
    if (key == VK_DELETE) Command(e, IDE_DELETE);
    else if (key == VK_RETURN) Command(e, IDE_APPLY);
    else if (key == VK_ESCAPE) ChooseTool(e, Tool::Select);
    else if (editor::ToolForKey(static_cast<wchar_t>(key), tool)) ChooseTool(e, tool);
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
    EndText(e, true);
    if (!e.document->Modified()) return true;
    const std::wstring question = L"Save the changes to the picture before closing?\n\nYes: save them as " + e.target +
                                  L"\nNo: close without saving\nCancel: keep editing";
    switch (MessageBoxW(e.window, question.c_str(), L"NIRA Ostrel: editor", MB_YESNOCANCEL | MB_ICONQUESTION)) {
        case IDYES: return SaveTo(e, e.target);
        case IDNO: return true;
        default: return false;
    }
}

}  // namespace

bool OpenEditor(const std::wstring& path, std::wstring& problem) {
    if (!EditorGraphicsReady()) {
        problem = L"The editor could not start its drawing (GDI+).";
        return false;
    }
    StepTrace trace(SteadyTicks(), SteadyFrequency());
    editor::Picture picture;
    if (!LoadPicture(path, picture, problem)) return false;
    trace.Step(L"read", SteadyTicks());
    auto e = std::make_unique<Editor>();
    e->opened = path;
    e->target = editor::EditedPath(path);
    const int width = picture.width, height = picture.height;
    e->document = std::make_unique<editor::Document>(std::move(picture));

    // The picture at its size where the screen has room, else as much as fits.
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    RECT frame{0, 0, std::max(width, 1500), height + 40};
    AdjustWindowRectEx(&frame, WS_OVERLAPPEDWINDOW, FALSE, 0);
    const int w = std::min<int>(frame.right - frame.left, (work.right - work.left) * 9 / 10);
    const int h = std::min<int>(frame.bottom - frame.top, (work.bottom - work.top) * 9 / 10);
    HWND window = CreateWindowExW(0, kEditorClass, L"NIRA Ostrel", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                                  work.left + (work.right - work.left - w) / 2, work.top + (work.bottom - work.top - h) / 2,
                                  w, h, nullptr, nullptr, Instance, nullptr);
    if (window == nullptr) {
        problem = L"The editor window could not be opened: " + ErrorText(HRESULT_FROM_WIN32(GetLastError()));
        return false;
    }
    e->window = window;
    Editor* const editorState = e.release();
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(editorState));
    MakeStrip(*editorState);
    LayoutStrip(*editorState);
    ShowChoices(*editorState);
    Title(*editorState);
    trace.Step(L"window", SteadyTicks());
    Rebuild(*editorState);
    trace.Step(L"views", SteadyTicks());
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    SetFocus(window);
    UpdateWindow(window);
    trace.Step(L"paint", SteadyTicks());
    Log(L"Editor opened: %s", path.c_str());
    Log(L"%s", trace.Line(L"Editor open").c_str());
    return true;
}

namespace {
constexpr ULONG_PTR kEditRequestTag = 0x4F53454Eu;  // marks our own requests among WM_COPYDATA
constexpr DWORD kLongestPath = 32767;
}  // namespace

bool SendEditRequest(HWND running, const std::wstring& path) {
    if (path.empty() || path.size() > kLongestPath) return false;
    COPYDATASTRUCT data{};
    data.dwData = kEditRequestTag;
    data.cbData = static_cast<DWORD>(path.size() * sizeof(wchar_t));
    data.lpData = const_cast<wchar_t*>(path.data());
    DWORD_PTR answer = 0;
    // The running copy may let the foreground go to the editor it opens.
    DWORD process = 0;
    GetWindowThreadProcessId(running, &process);
    AllowSetForegroundWindow(process);
    return SendMessageTimeoutW(running, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG, 15000,
                               &answer) != 0 &&
           answer == TRUE;
}

bool EditRequestFromCopy(const COPYDATASTRUCT* data, std::wstring& path) {
    if (data == nullptr || data->dwData != kEditRequestTag || data->lpData == nullptr || data->cbData == 0 ||
        data->cbData % sizeof(wchar_t) != 0 || data->cbData > kLongestPath * sizeof(wchar_t))
        return false;
    path.assign(static_cast<const wchar_t*>(data->lpData), data->cbData / sizeof(wchar_t));
    return path.find(L'\0') == std::wstring::npos;
}

void OpenEditorOrSay(const std::wstring& path) {
    std::wstring problem;
    if (!OpenEditor(path, problem)) MessageBoxW(nullptr, problem.c_str(), L"NIRA Ostrel: editor", MB_ICONWARNING);
}

LRESULT CALLBACK EditorWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Editor* const e = Of(window);
    if (e == nullptr) return DefWindowProcW(window, message, wParam, lParam);
    switch (message) {
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT:
            PaintUpdatedParts(window, [e](HDC dc, const RECT& rect) { Paint(*e, dc, rect); });
            return 0;
        case WM_TIMER:
            if (wParam == kSmoothView) Smooth(*e);
            return 0;
        case WM_SIZE:
            LayoutStrip(*e);
            if (e->fit) Rebuild(*e);
            else InvalidateRect(window, nullptr, FALSE);
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
        case WM_CLOSE:
            if (Close(*e)) DestroyWindow(window);
            return 0;
        case WM_DESTROY:
            SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            delete e;
            return 0;
        default:
            break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
