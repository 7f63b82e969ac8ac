#include "app/trim_window.h"

#include <windowsx.h>

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include "app/capture_flows.h"
#include "app/recent_menu.h"
#include "app/shell.h"
#include "app/tray.h"
#include "app/save_flow.h"
#include "common/com_apartment.h"
#include "common/copy_request.h"
#include "common/steady_clock.h"
#include "storage/folders.h"
#include "storage/log.h"
#include "trim/trim_file.h"
#include "trim/trim_pictures.h"
#include "trim/trim_timeline_core.h"

namespace {

constexpr wchar_t kCaption[] = L"NIRA Ostrel: trim";
constexpr ULONG_PTR kTrimRequestTag = 0x4F535452u;  // marks our own requests among WM_COPYDATA

// What the window and its thread share. The thread reads the index, then
// the picture last asked for, until the window goes.
struct TrimSlot {
    std::mutex lock;
    std::condition_variable wake;
    bool quit = false;

    bool indexDone = false;
    std::optional<trim::Timeline> timeline;
    std::wstring problem;  // the index could not be read

    int64_t wanted = -1;  // the picture asked for, -1 when none waits
    bool pictureDone = false;
    bool pictureShown = false;
    TrimPicture picture;
    std::wstring why;  // no picture can be shown

    bool saveDone = false;
    bool saved = false;
    TrimOutcome outcome;
    std::wstring saveProblem;
};

enum class Drag { None, Playhead, Start, End };

struct Trim {
    HWND window = nullptr;
    HWND saveButton = nullptr;
    HWND libraryButton = nullptr;
    std::wstring path;
    std::shared_ptr<TrimSlot> slot;
    std::optional<trim::Timeline> timeline;
    Drag drag = Drag::None;

    HBITMAP picture = nullptr;
    int32_t pictureWidth = 0, pictureHeight = 0;
    std::wstring why;
    bool firstPictureLogged = false;
    bool whyLogged = false;
    int64_t openedAt = 0;  // performance-counter ticks
    int64_t askedAt = 0;   // of the oldest picture asked for and not yet shown, 0 when none
    std::vector<int32_t> waits;  // milliseconds from asking to showing, for the log at closing

    bool saving = false;
    bool libraryAfterSave = false;
    bool closeAfterSave = false;
    int64_t savedStart = -1, savedEnd = -1;  // the part last saved

    ~Trim() {
        if (picture != nullptr) DeleteObject(picture);
    }
};

std::vector<HWND>& TrimWindows() {
    static std::vector<HWND> windows;
    return windows;
}

std::wstring NoMemoryForPicture() {
    return L"There is not enough memory free to show this picture. " + std::wstring(kTrimWithoutPictures);
}

Trim* Of(HWND window) { return reinterpret_cast<Trim*>(GetWindowLongPtrW(window, GWLP_USERDATA)); }

int Scaled(HWND window, int pixels) { return MulDiv(pixels, static_cast<int>(GetDpiForWindow(window)), 96); }

std::wstring FileName(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// The client's parts: the picture, the timeline's bar, the row of text and buttons.
struct Layout {
    RECT picture, bar, row;
};

Layout LayoutOf(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    const int margin = Scaled(window, 12), rowHeight = Scaled(window, 30), barHeight = Scaled(window, 36);
    Layout l;
    l.row = {margin, client.bottom - margin - rowHeight, client.right - margin, client.bottom - margin};
    l.bar = {margin, l.row.top - margin - barHeight, client.right - margin, l.row.top - margin};
    l.picture = {0, 0, client.right, std::max<LONG>(0, l.bar.top - margin)};
    return l;
}

int32_t BarWidth(const Layout& l) { return std::max<int32_t>(1, l.bar.right - l.bar.left); }

int32_t XOf(const Trim& t, const Layout& l, int64_t us) {
    return l.bar.left + trim::XOfTime(us, t.timeline->Duration(), BarWidth(l));
}

bool Unsaved(const Trim& t) {
    return t.timeline && t.timeline->Changed() && (t.timeline->Start() != t.savedStart || t.timeline->End() != t.savedEnd);
}

void Title(Trim& t) {
    std::wstring title = L"Trim " + FileName(t.path);
    if (Unsaved(t)) title += L" *";
    if (t.saving) title += L" (saving\u2026)";
    SetWindowTextW(t.window, (title + L" - NIRA Ostrel").c_str());
}

void LayoutButtons(Trim& t) {
    const Layout l = LayoutOf(t.window);
    const int gap = Scaled(t.window, 8), library = Scaled(t.window, 130), save = Scaled(t.window, 150);
    const int h = l.row.bottom - l.row.top;
    MoveWindow(t.libraryButton, l.row.right - library, l.row.top, library, h, TRUE);
    MoveWindow(t.saveButton, l.row.right - library - gap - save, l.row.top, save, h, TRUE);
}

void EnableButtons(Trim& t) {
    const bool ready = t.timeline.has_value() && !t.saving;
    EnableWindow(t.saveButton, ready);
    EnableWindow(t.libraryButton, ready);
}

void AskForPicture(Trim& t) {
    if (!t.timeline) return;
    if (t.askedAt == 0) t.askedAt = SteadyTicks();
    {
        std::lock_guard<std::mutex> hold(t.slot->lock);
        t.slot->wanted = t.timeline->Playhead();
    }
    t.slot->wake.notify_one();
}

void Repaint(Trim& t) {
    InvalidateRect(t.window, nullptr, FALSE);
    Title(t);
}

void PaintText(HDC dc, const std::wstring& text, RECT box, UINT format, COLORREF colour) {
    SetTextColor(dc, colour);
    SetBkMode(dc, TRANSPARENT);
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &box, format | DT_NOPREFIX);
}

void Fill(HDC dc, RECT box, COLORREF colour) {
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(dc, &box, brush);
    DeleteObject(brush);
}

void PaintPicture(const Trim& t, HDC dc, const Layout& l) {
    Fill(dc, l.picture, RGB(32, 32, 32));
    const int w = l.picture.right - l.picture.left, h = l.picture.bottom - l.picture.top;
    if (t.picture != nullptr && t.pictureWidth > 0 && t.pictureHeight > 0 && w > 0 && h > 0) {
        // The whole picture, as large as fits, in its own shape.
        const double scale = std::min(static_cast<double>(w) / t.pictureWidth, static_cast<double>(h) / t.pictureHeight);
        const int sw = std::max(1, static_cast<int>(t.pictureWidth * scale)),
                  sh = std::max(1, static_cast<int>(t.pictureHeight * scale));
        HDC source = CreateCompatibleDC(dc);
        HGDIOBJ old = SelectObject(source, t.picture);
        SetStretchBltMode(dc, HALFTONE);
        SetBrushOrgEx(dc, 0, 0, nullptr);
        StretchBlt(dc, l.picture.left + (w - sw) / 2, l.picture.top + (h - sh) / 2, sw, sh, source, 0, 0, t.pictureWidth,
                   t.pictureHeight, SRCCOPY);
        SelectObject(source, old);
        DeleteDC(source);
        return;
    }
    const std::wstring text = !t.timeline ? L"Reading the recording\u2026" : t.why;
    RECT box = l.picture;
    InflateRect(&box, -Scaled(t.window, 24), 0);
    RECT measure = box;
    DrawTextW(dc, text.c_str(), -1, &measure, DT_CALCRECT | DT_WORDBREAK | DT_CENTER | DT_NOPREFIX);
    box.top += (h - (measure.bottom - measure.top)) / 2;
    PaintText(dc, text, box, DT_WORDBREAK | DT_CENTER, RGB(224, 224, 224));
}

void PaintBar(const Trim& t, HDC dc, const Layout& l) {
    if (!t.timeline) return;
    const trim::Timeline& line = *t.timeline;
    const int mid = (l.bar.top + l.bar.bottom) / 2, track = Scaled(t.window, 6);
    Fill(dc, {l.bar.left, mid - track, l.bar.right, mid + track}, RGB(200, 200, 200));
    const int start = XOf(t, l, line.Start()), end = XOf(t, l, line.End());
    Fill(dc, {start, mid - track, std::max(end, start + 1), mid + track}, RGB(0, 120, 215));
    // The handles: a bar across the timeline at each end of the part to keep.
    const int handle = Scaled(t.window, 4);
    Fill(dc, {start - handle, l.bar.top, start + handle, l.bar.bottom}, RGB(16, 80, 150));
    Fill(dc, {end - handle, l.bar.top, end + handle, l.bar.bottom}, RGB(16, 80, 150));
    const int playhead = XOf(t, l, line.Playhead()), thin = std::max(1, Scaled(t.window, 1));
    Fill(dc, {playhead - thin, l.bar.top - Scaled(t.window, 4), playhead + thin, l.bar.bottom + Scaled(t.window, 4)},
         RGB(220, 40, 40));
}

void PaintRow(const Trim& t, HDC dc, const Layout& l) {
    if (!t.timeline) return;
    const trim::Timeline& line = *t.timeline;
    std::wstring text = trim::KeptText(line.Kept(), line.Duration()) + L"   At " + trim::LengthText(line.Playhead());
    // A cut starts at a key picture: say so when that is before the start chosen.
    if (line.CutStart() != line.Start())
        text += L"\nThe copy starts at " + trim::LengthText(line.CutStart()) + L", the key picture before the start.";
    RECT box = l.row;
    RECT buttons{};
    GetWindowRect(t.saveButton, &buttons);
    MapWindowPoints(nullptr, t.window, reinterpret_cast<POINT*>(&buttons), 2);
    box.right = buttons.left - Scaled(t.window, 8);
    PaintText(dc, text, box, DT_LEFT | DT_VCENTER | (text.find(L'\n') == std::wstring::npos ? DT_SINGLELINE : 0),
              GetSysColor(COLOR_WINDOWTEXT));
}

void Paint(const Trim& t, HDC target) {
    RECT client{};
    GetClientRect(t.window, &client);
    const int w = std::max<LONG>(1, client.right), h = std::max<LONG>(1, client.bottom);
    // Drawn aside, then shown at once: a drag never flickers.
    HDC dc = CreateCompatibleDC(target);
    HBITMAP canvas = CreateCompatibleBitmap(target, w, h);
    HGDIOBJ oldCanvas = SelectObject(dc, canvas);
    HGDIOBJ oldFont = UiFont != nullptr ? SelectObject(dc, UiFont) : nullptr;
    Fill(dc, client, GetSysColor(COLOR_WINDOW));
    const Layout l = LayoutOf(t.window);
    PaintPicture(t, dc, l);
    PaintBar(t, dc, l);
    PaintRow(t, dc, l);
    BitBlt(target, 0, 0, w, h, dc, 0, 0, SRCCOPY);
    if (oldFont != nullptr) SelectObject(dc, oldFont);
    SelectObject(dc, oldCanvas);
    DeleteObject(canvas);
    DeleteDC(dc);
}

// The thread of one window: the index, then pictures as they are asked for.
void ReadRecording(const std::shared_ptr<TrimSlot>& slot, HWND window, const std::wstring& path) {
    ComApartment apartment;
    trim::Movie movie;
    std::wstring problem;
    std::optional<trim::Timeline> timeline;
    try {
        if (ReadRecordingIndex(path, movie, problem)) timeline = trim::Timeline::Of(movie);
    } catch (const std::bad_alloc&) {
        problem = L"There is not enough memory free to open this recording. Close some programs and try again.";
    }
    {
        std::lock_guard<std::mutex> hold(slot->lock);
        slot->indexDone = true;
        slot->timeline = timeline;
        slot->problem = problem;
    }
    PostMessageW(window, WM_TRIM_INDEX, 0, 0);
    if (!timeline) return;

    std::wstring why;
    std::unique_ptr<TrimPictures> pictures = OpenTrimPictures(path, movie, why);
    for (;;) {
        int64_t us = -1;
        {
            std::unique_lock<std::mutex> hold(slot->lock);
            slot->wake.wait(hold, [&] { return slot->quit || slot->wanted >= 0; });
            if (slot->quit) return;
            us = std::exchange(slot->wanted, -1);
        }
        TrimPicture picture;
        bool shown = false;
        try {
            shown = pictures != nullptr && pictures->At(us, picture, why);
        } catch (const std::bad_alloc&) {
            why = NoMemoryForPicture();
        }
        {
            std::lock_guard<std::mutex> hold(slot->lock);
            slot->pictureDone = true;
            slot->pictureShown = shown;
            slot->picture = std::move(picture);
            slot->why = why;
        }
        PostMessageW(window, WM_TRIM_PICTURE, 0, 0);
    }
}

void IndexRead(Trim& t) {
    std::wstring problem;
    {
        std::lock_guard<std::mutex> hold(t.slot->lock);
        if (!t.slot->indexDone) return;
        t.timeline = t.slot->timeline;
        problem = t.slot->problem;
    }
    if (!t.timeline) {
        MessageBoxW(t.window, problem.c_str(), kCaption, MB_ICONWARNING);
        DestroyWindow(t.window);
        return;
    }
    EnableButtons(t);
    AskForPicture(t);
    Repaint(t);
}

void PictureRead(Trim& t) {
    TrimPicture picture;
    bool shown = false;
    {
        std::lock_guard<std::mutex> hold(t.slot->lock);
        if (!t.slot->pictureDone) return;
        t.slot->pictureDone = false;
        shown = t.slot->pictureShown;
        picture = std::move(t.slot->picture);
        t.why = t.slot->why;
    }
    if (t.picture != nullptr) DeleteObject(t.picture);
    t.picture = nullptr;
    if (shown) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = picture.width;
        info.bmiHeader.biHeight = -picture.height;  // top down
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        t.picture = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (t.picture != nullptr) {
            std::copy(picture.bgra.begin(), picture.bgra.end(), static_cast<uint8_t*>(bits));
            t.pictureWidth = picture.width;
            t.pictureHeight = picture.height;
        } else {
            t.why = NoMemoryForPicture();
        }
    }
    // Shown before the next message is taken, so the wait counts the painting.
    const RECT area = LayoutOf(t.window).picture;
    InvalidateRect(t.window, &area, FALSE);
    UpdateWindow(t.window);
    if (t.askedAt != 0 && t.waits.size() < 100000)
        t.waits.push_back(static_cast<int32_t>((SteadyTicks() - t.askedAt) * 1000 / SteadyFrequency()));
    t.askedAt = 0;
    if (t.picture == nullptr && !t.whyLogged) {
        t.whyLogged = true;
        Log(L"Trim window shows no picture: %s", t.why.c_str());
    }
    if (!t.firstPictureLogged) {
        t.firstPictureLogged = true;
        Log(L"Trim window: first picture %s %lld ms after opening", t.picture != nullptr ? L"shown" : L"not shown",
            static_cast<long long>((SteadyTicks() - t.openedAt) * 1000 / SteadyFrequency()));
    }
}

void LogWaits(const Trim& t) {
    // The first picture is told of at opening.
    if (t.waits.size() < 2) return;
    std::vector<int32_t> waits(t.waits.begin() + 1, t.waits.end());
    std::sort(waits.begin(), waits.end());
    Log(L"Trim window closed: %llu pictures shown after the first, median %d ms, slowest %d ms from asking to showing",
        static_cast<unsigned long long>(waits.size()), waits[waits.size() / 2], waits.back());
}

void StartSave(Trim& t, bool library) {
    if (!t.timeline || t.saving) return;
    const trim::Timeline& line = *t.timeline;
    // Milliseconds that keep the cut on the chosen pictures: the start rounds
    // up (down could reach the key picture before), the end down.
    const int64_t startMs = (line.Start() + 999) / 1000, endMs = line.End() / 1000;
    const int64_t start = line.Start(), end = line.End();
    std::shared_ptr<TrimSlot> slot = t.slot;
    HWND window = t.window;
    const std::wstring path = t.path;
    DWORD error = 0;
    if (!StartDetachedThread(
            [slot, window, path, startMs, endMs] {
                TrimOutcome outcome;
                std::wstring problem;
                bool saved = false;
                try {
                    saved = TrimRecording(path, startMs, endMs, outcome, problem);
                } catch (const std::bad_alloc&) {
                    problem = L"There was not enough memory to trim this recording.";
                }
                {
                    std::lock_guard<std::mutex> hold(slot->lock);
                    slot->saveDone = true;
                    slot->saved = saved;
                    slot->outcome = outcome;
                    slot->saveProblem = problem;
                }
                PostMessageW(window, WM_TRIM_SAVED, 0, 0);
            },
            error)) {
        MessageBoxW(t.window, (L"The trimmed copy could not be started: " + ErrorText(HRESULT_FROM_WIN32(error))).c_str(),
                    kCaption, MB_ICONWARNING);
        t.closeAfterSave = false;
        return;
    }
    t.saving = true;
    t.libraryAfterSave = library;
    t.savedStart = start;
    t.savedEnd = end;
    EnableButtons(t);
    Title(t);
}

void SaveEnded(Trim& t) {
    bool saved = false;
    TrimOutcome outcome;
    std::wstring problem;
    {
        std::lock_guard<std::mutex> hold(t.slot->lock);
        if (!t.slot->saveDone) return;
        t.slot->saveDone = false;
        saved = t.slot->saved;
        outcome = t.slot->outcome;
        problem = t.slot->saveProblem;
    }
    t.saving = false;
    EnableButtons(t);
    if (!saved) {
        t.savedStart = t.savedEnd = -1;
        t.closeAfterSave = false;
        Title(t);
        MessageBoxW(t.window, problem.c_str(), kCaption, MB_ICONWARNING);
        return;
    }
    Title(t);
    NoteCapture(outcome.path);
    ShowBalloon(L"Trimmed copy saved", outcome.path, BALLOON_INFO, {NoticeAction::Kind::ShowInFolder, outcome.path});
    if (t.libraryAfterSave) SaveToLibrary(outcome.path);
    if (t.closeAfterSave) DestroyWindow(t.window);
}

// Closing: a changed part to keep that was not saved is asked about first.
// False when the window stays.
bool Close(Trim& t) {
    if (t.saving) {
        t.closeAfterSave = true;
        return false;
    }
    if (!Unsaved(t)) return true;
    switch (MessageBoxW(t.window, L"Save a trimmed copy of this recording before closing?", kCaption,
                        MB_YESNOCANCEL | MB_ICONQUESTION)) {
        case IDYES:
            t.closeAfterSave = true;
            StartSave(t, false);
            return false;
        case IDNO:
            return true;
        default:
            return false;
    }
}

void Act(Trim& t, trim::TrimAction action) {
    if (!t.timeline) {
        if (action == trim::TrimAction::Close) PostMessageW(t.window, WM_CLOSE, 0, 0);
        return;
    }
    trim::Timeline& line = *t.timeline;
    const int64_t before = line.Playhead();
    switch (action) {
        case trim::TrimAction::PreviousPicture: line.Step(-1); break;
        case trim::TrimAction::NextPicture: line.Step(1); break;
        case trim::TrimAction::BackSecond: line.Move(-1'000'000); break;
        case trim::TrimAction::ForwardSecond: line.Move(1'000'000); break;
        case trim::TrimAction::SetStart: line.SetStartHere(); break;
        case trim::TrimAction::SetEnd: line.SetEndHere(); break;
        case trim::TrimAction::ToBeginning: line.MoveTo(0); break;
        case trim::TrimAction::ToFinish: line.MoveTo(line.Duration()); break;
        case trim::TrimAction::Save: StartSave(t, false); return;
        case trim::TrimAction::Close: PostMessageW(t.window, WM_CLOSE, 0, 0); return;
        case trim::TrimAction::None: return;
    }
    if (line.Playhead() != before) AskForPicture(t);
    Repaint(t);
}

void MouseMove(Trim& t, int x) {
    if (t.drag == Drag::None || !t.timeline) return;
    const Layout l = LayoutOf(t.window);
    trim::Timeline& line = *t.timeline;
    const int64_t us = trim::TimeOfX(x - l.bar.left, line.Duration(), BarWidth(l));
    const int64_t before = line.Playhead();
    // A handle being moved shows its own picture: the first one kept, or the last.
    if (t.drag == Drag::Start) {
        line.DragStart(us);
        line.MoveTo(line.Start());
    } else if (t.drag == Drag::End) {
        line.DragEnd(us);
        line.MoveTo(line.End() - 1);
    } else {
        line.MoveTo(us);
    }
    if (line.Playhead() != before) AskForPicture(t);
    Repaint(t);
}

void MouseDown(Trim& t, int x, int y) {
    SetFocus(t.window);
    if (!t.timeline) return;
    const Layout l = LayoutOf(t.window);
    const int reach = Scaled(t.window, 8);
    if (y < l.bar.top - reach || y > l.bar.bottom + reach) return;
    const int start = XOf(t, l, t.timeline->Start()), end = XOf(t, l, t.timeline->End());
    // The nearer handle when both are in reach (a short part to keep).
    if (std::abs(x - start) <= reach && std::abs(x - start) <= std::abs(x - end)) t.drag = Drag::Start;
    else if (std::abs(x - end) <= reach) t.drag = Drag::End;
    else t.drag = Drag::Playhead;
    SetCapture(t.window);
    MouseMove(t, x);
}

void Command(Trim& t, WORD id) {
    if (id == IDT_SAVE) StartSave(t, false);
    if (id == IDT_LIBRARY) StartSave(t, true);
    SetFocus(t.window);  // the keys stay with the window
}

LRESULT Handle(HWND window, Trim* const t, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_TRIM_INDEX:
            IndexRead(*t);
            return 0;
        case WM_TRIM_PICTURE:
            PictureRead(*t);
            return 0;
        case WM_TRIM_SAVED:
            SaveEnded(*t);
            return 0;
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(window, &paint);
            Paint(*t, dc);
            EndPaint(window, &paint);
            return 0;
        }
        case WM_SIZE:
            LayoutButtons(*t);
            InvalidateRect(window, nullptr, FALSE);
            return 0;
        case WM_DPICHANGED: {
            const auto* suggested = reinterpret_cast<const RECT*>(lParam);
            SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                         suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
            LayoutButtons(*t);
            return 0;
        }
        case WM_GETMINMAXINFO: {
            auto* limits = reinterpret_cast<MINMAXINFO*>(lParam);
            limits->ptMinTrackSize = {Scaled(window, 480), Scaled(window, 300)};
            return 0;
        }
        case WM_KEYDOWN:
            Act(*t, trim::TrimActionForKey(static_cast<uint32_t>(wParam), GetKeyState(VK_SHIFT) < 0,
                                           GetKeyState(VK_CONTROL) < 0, false));
            return 0;
        case WM_LBUTTONDOWN:
            MouseDown(*t, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
            return 0;
        case WM_MOUSEMOVE:
            MouseMove(*t, GET_X_LPARAM(lParam));
            return 0;
        case WM_LBUTTONUP:
        case WM_CAPTURECHANGED:
            if (t->drag != Drag::None) {
                t->drag = Drag::None;
                if (GetCapture() == window) ReleaseCapture();
            }
            return 0;
        case WM_COMMAND:
            Command(*t, LOWORD(wParam));
            return 0;
        case WM_CLOSE:
            if (Close(*t)) DestroyWindow(window);
            return 0;
        case WM_DESTROY: {
            LogWaits(*t);
            {
                std::lock_guard<std::mutex> hold(t->slot->lock);
                t->slot->quit = true;
            }
            t->slot->wake.notify_one();
            auto& windows = TrimWindows();
            windows.erase(std::remove(windows.begin(), windows.end(), window), windows.end());
            return 0;
        }
        case WM_NCDESTROY:
            SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            delete t;
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

bool OpenTrimWindow(const std::wstring& path, std::wstring& problem) {
    auto t = std::make_unique<Trim>();
    t->path = path;
    t->slot = std::make_shared<TrimSlot>();
    t->openedAt = SteadyTicks();
    // Sized for the monitor the window opens on, as its dots per inch say.
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    HWND window = CreateWindowExW(0, kTrimClass, L"NIRA Ostrel", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 960, 640, nullptr, nullptr, Instance, nullptr);
    if (window == nullptr) {
        problem = L"The trim window could not be opened: " + ErrorText(HRESULT_FROM_WIN32(GetLastError()));
        return false;
    }
    t->window = window;
    const int w = std::min<int>(Scaled(window, 960), work.right - work.left),
              h = std::min<int>(Scaled(window, 640), work.bottom - work.top);
    SetWindowPos(window, nullptr, work.left + (work.right - work.left - w) / 2, work.top + (work.bottom - work.top - h) / 2,
                 w, h, SWP_NOZORDER | SWP_NOACTIVATE);
    const DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP;
    t->saveButton = CreateWindowExW(0, L"BUTTON", L"Save trimmed copy", style | BS_DEFPUSHBUTTON, 0, 0, 10, 10, window,
                                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDT_SAVE)), Instance, nullptr);
    t->libraryButton = CreateWindowExW(0, L"BUTTON", L"Save to library", style | BS_PUSHBUTTON, 0, 0, 10, 10, window,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDT_LIBRARY)), Instance, nullptr);
    for (HWND button : {t->saveButton, t->libraryButton})
        if (button != nullptr && UiFont != nullptr) SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(UiFont), FALSE);

    std::shared_ptr<TrimSlot> slot = t->slot;
    DWORD error = 0;
    if (!StartDetachedThread([slot, window, path] { ReadRecording(slot, window, path); }, error)) {
        DestroyWindow(window);
        problem = L"The trim window could not start reading the recording: " + ErrorText(HRESULT_FROM_WIN32(error));
        return false;
    }
    Trim* const state = t.release();
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
    TrimWindows().push_back(window);
    LayoutButtons(*state);
    EnableButtons(*state);
    Title(*state);
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    Log(L"Trim window opened: %s", path.c_str());
    return true;
}

void OpenTrimWindowOrSay(const std::wstring& path) {
    std::wstring problem;
    if (!OpenTrimWindow(path, problem)) MessageBoxW(nullptr, problem.c_str(), kCaption, MB_ICONWARNING);
}

bool CloseTrimWindowsForQuit() {
    const std::vector<HWND> windows = TrimWindows();
    for (HWND window : windows) {
        Trim* const t = Of(window);
        if (t == nullptr) continue;
        if (t->saving) continue;  // it ends with the program's other work
        if (Unsaved(*t) && MessageBoxW(window, L"This recording's trim was not saved. Quit anyway?", kCaption,
                                       MB_OKCANCEL | MB_ICONQUESTION) != IDOK)
            return false;
    }
    CloseTrimWindows();
    return true;
}

void CloseTrimWindows() {
    const std::vector<HWND> windows = TrimWindows();
    for (HWND window : windows) DestroyWindow(window);
}

bool SendTrimRequest(HWND running, const std::wstring& path) { return SendPathByCopy(running, kTrimRequestTag, path); }

bool TrimRequestFromCopy(const COPYDATASTRUCT* data, std::wstring& path) {
    return PathFromCopy(data, kTrimRequestTag, path);
}

LRESULT CALLBACK TrimWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Trim* const t = Of(window);
    if (t == nullptr) return DefWindowProcW(window, message, wParam, lParam);
    // Nothing thrown may leave a window procedure: a failed allocation is
    // told, and the window goes on.
    try {
        return Handle(window, t, message, wParam, lParam);
    } catch (const std::bad_alloc&) {
        MessageBoxW(window, L"There is not enough memory free for this. Close some programs and try again.", kCaption,
                    MB_ICONWARNING);
        return 0;
    }
}
