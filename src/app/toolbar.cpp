// The recording toolbar: a dark always-on-top strip with the state, the
// clock and four owner-drawn buttons. It forwards every button press to
// MainWindow and never takes the focus when shown.
#include "app/toolbar.h"

#include <windows.h>
#include <dwmapi.h>

#include "app/camera_bubble.h"
#include "app/shell.h"
#include "app/toolbar_core.h"
#include "recorder/recorder.h"
#include "storage/log.h"

namespace {

constexpr int kWidth = 526, kHeight = 44, kHeightWithWarning = 64;
constexpr DWORD kDarkMode = 20;              // DWMWA_USE_IMMERSIVE_DARK_MODE
constexpr DWORD kCornerPreference = 33;      // DWMWA_WINDOW_CORNER_PREFERENCE
constexpr int kRoundCorners = 2;             // DWMWCP_ROUND

HWND PrimaryButton = nullptr;
HWND StopButton = nullptr;

COLORREF Colour(Rgb c) { return RGB(c.r, c.g, c.b); }

ShellRecorderState State() { return static_cast<ShellRecorderState>(TheRecorder.State()); }

// The desktop window manager is asked through a run-time look-up: it may be absent.
void AskForDarkRoundedFrame(HWND window) {
    using SetAttributeFn = HRESULT(WINAPI*)(HWND, DWORD, LPCVOID, DWORD);
    HMODULE dwm = LoadLibraryW(L"dwmapi.dll");
    if (dwm == nullptr) return;
    if (auto set = reinterpret_cast<SetAttributeFn>(
            reinterpret_cast<void*>(GetProcAddress(dwm, "DwmSetWindowAttribute")))) {
        const BOOL dark = TRUE;
        set(window, kDarkMode, &dark, sizeof dark);
        const int corners = kRoundCorners;
        set(window, kCornerPreference, &corners, sizeof corners);
    }
}

void PaintToolbarStatus(HDC dc, const RECT& rect) {
    const bool hc = IsHighContrast();
    const ShellRecorderState state = State();
    const ToolbarStatus status = ToolbarStatusFor(state, CountdownRemaining, TheRecorder.ElapsedSeconds());
    const COLORREF text = hc ? GetSysColor(COLOR_WINDOWTEXT) : Colour(toolbar_colour::kText);
    const COLORREF mark = hc ? GetSysColor(COLOR_WINDOWTEXT) : Colour(status.markColour);
    const int mid = (rect.top + rect.bottom) / 2;

    HPEN pen = CreatePen(PS_SOLID, 2, mark);
    HGDIOBJ oldPen = SelectObject(dc, pen);
    if (status.mark == ToolbarMark::PauseBars) {
        HBRUSH fill = CreateSolidBrush(mark);
        const RECT bars[] = {{rect.left + 10, mid - 7, rect.left + 14, mid + 7},
                             {rect.left + 18, mid - 7, rect.left + 22, mid + 7}};
        for (const RECT& bar : bars) FillRect(dc, &bar, fill);
        DeleteObject(fill);
    } else {
        HBRUSH fill = status.mark == ToolbarMark::FilledCircle ? CreateSolidBrush(mark) : nullptr;
        HGDIOBJ oldBrush = SelectObject(dc, fill != nullptr ? fill : GetStockObject(NULL_BRUSH));
        Ellipse(dc, rect.left + 9, mid - 7, rect.left + 23, mid + 7);
        SelectObject(dc, oldBrush);
        if (fill != nullptr) DeleteObject(fill);
    }
    SelectObject(dc, oldPen);
    DeleteObject(pen);

    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, text);
    HGDIOBJ oldFont = SelectObject(dc, UiFontBold);
    RECT textRect{rect.left + 30, rect.top, rect.right, rect.bottom};
    DrawTextW(dc, status.text.c_str(), -1, &textRect, DT_SINGLELINE | DT_VCENTER);
    SelectObject(dc, oldFont);
}

void DrawToolbarButton(const DRAWITEMSTRUCT& item) {
    const bool hc = IsHighContrast();
    wchar_t caption[64] = {};
    GetWindowTextW(item.hwndItem, caption, 64);
    const bool disabled = (item.itemState & ODS_DISABLED) != 0;
    const bool pressed = (item.itemState & ODS_SELECTED) != 0 && !hc;
    const bool focus = (item.itemState & ODS_FOCUS) != 0;

    COLORREF face, text;
    if (hc) {
        face = GetSysColor(COLOR_BTNFACE);
        text = GetSysColor(disabled ? COLOR_GRAYTEXT : COLOR_BTNTEXT);
    } else {
        const ButtonColours colours = ToolbarButtonColours(static_cast<int32_t>(item.CtlID), disabled, pressed,
                                                           item.CtlID == ID_SHOW_CAMERA && CameraShowing());
        face = Colour(colours.face);
        text = Colour(colours.text);
    }
    const COLORREF outline = hc ? GetSysColor(COLOR_BTNTEXT)
                                : Colour(focus ? toolbar_colour::kIdle : toolbar_colour::kOutline);

    HDC dc = item.hDC;
    RECT rect = item.rcItem;
    if (hc) {
        FillRect(dc, &rect, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    } else {
        FillRect(dc, &rect, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        HBRUSH background = CreateSolidBrush(Colour(toolbar_colour::kBackground));
        FillRect(dc, &rect, background);
        DeleteObject(background);
    }
    HBRUSH faceBrush = CreateSolidBrush(face);
    HPEN pen = CreatePen(PS_SOLID, focus ? 2 : 1, outline);
    HGDIOBJ oldBrush = SelectObject(dc, faceBrush);
    HGDIOBJ oldPen = SelectObject(dc, pen);
    RoundRect(dc, rect.left, rect.top, rect.right, rect.bottom, 10, 10);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    DeleteObject(faceBrush);
    DeleteObject(pen);

    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, text);
    HGDIOBJ oldFont = SelectObject(dc, UiFontBold);
    DrawTextW(dc, item.CtlID == ID_HIDE_TOOLBAR ? L"\u00d7" : caption, -1, &rect,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    SelectObject(dc, oldFont);
}

}  // namespace

bool IsHighContrast() {
    HIGHCONTRASTW contrast{};
    contrast.cbSize = sizeof contrast;
    return SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof contrast, &contrast, 0) &&
           (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

LRESULT CALLBACK ToolbarWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(window, &paint);
            PaintToolbarStatus(dc, RECT{0, 0, 160, 44});
            if (!HideFromCaptureOk) {
                SetBkMode(dc, TRANSPARENT);
                SetTextColor(dc, Colour(toolbar_colour::kPaused));
                HGDIOBJ oldFont = SelectObject(dc, UiFont);
                RECT line{8, 44, 420, 62};
                DrawTextW(dc, L"This bar may show in recordings on this Windows version", -1, &line, DT_SINGLELINE);
                SelectObject(dc, oldFont);
            }
            EndPaint(window, &paint);
            return 0;
        }
        case WM_ERASEBKGND: {
            RECT client;
            GetClientRect(window, &client);
            const bool hc = IsHighContrast();
            HBRUSH brush = hc ? GetSysColorBrush(COLOR_WINDOW) : CreateSolidBrush(Colour(toolbar_colour::kBackground));
            FillRect(reinterpret_cast<HDC>(wParam), &client, brush);
            if (!hc) DeleteObject(brush);
            return 1;
        }
        case WM_DRAWITEM:
            DrawToolbarButton(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
            return 1;
        case WM_NCHITTEST: {
            const LRESULT hit = DefWindowProcW(window, message, wParam, lParam);
            return hit == HTCLIENT ? HTCAPTION : hit;
        }
        case WM_COMMAND:
            // Owner-drawn buttons also report BN_DBLCLK for the second click
            // of a double-click, which would undo or repeat the first.
            if (HIWORD(wParam) == BN_CLICKED) SendMessageW(MainWindow, WM_COMMAND, wParam, lParam);
            return 0;
        case WM_CLOSE:
            ShowWindow(window, SW_HIDE);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

void CreateToolbar(bool show) {
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    ToolbarWindow = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_CONTROLPARENT, kToolbarClass,
                                    L"NIRA Ostrel recording controls", WS_POPUP, work.right - 20 - kWidth, work.top + 20,
                                    kWidth, kHeight, nullptr, nullptr, Instance, nullptr);
    if (ToolbarWindow == nullptr) return;

    struct ButtonRow {
        const wchar_t* text;
        WORD id;
        int x, width;
    };
    const ButtonRow buttons[] = {
        {L"Record", ID_RECORD, 160, 74},
        {L"Stop", ID_STOP, 238, 60},
        {L"Screenshot", ID_SCREENSHOT, 302, 100},
        {L"Camera", ID_SHOW_CAMERA, 406, 72},
        {L"Hide", ID_HIDE_TOOLBAR, 482, 40},
    };
    for (const ButtonRow& row : buttons) {
        HWND button = CreateWindowExW(0, L"BUTTON", row.text, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW,
                                      row.x, 6, row.width, 32, ToolbarWindow,
                                      reinterpret_cast<HMENU>(static_cast<UINT_PTR>(row.id)), Instance, nullptr);
        SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(UiFontBold), TRUE);
        if (row.id == ID_RECORD) PrimaryButton = button;
        if (row.id == ID_STOP) StopButton = button;
        if (row.id == ID_HIDE_TOOLBAR) SetWindowTextW(button, L"Hide toolbar");
    }

    HideFromCaptureOk = SetWindowDisplayAffinity(ToolbarWindow, kExcludeFromCapture) != FALSE;
    if (!HideFromCaptureOk)
        SetWindowPos(ToolbarWindow, nullptr, 0, 0, kWidth, kHeightWithWarning, SWP_NOZORDER | SWP_NOMOVE);
    AskForDarkRoundedFrame(ToolbarWindow);
    if (show) ShowWindow(ToolbarWindow, SW_SHOWNOACTIVATE);
    UpdateToolbar();
}

void UpdateToolbar() {
    if (ToolbarWindow == nullptr) return;
    const ShellRecorderState state = State();
    SetWindowTextW(PrimaryButton, PrimaryButtonText(state, CountdownRemaining != 0).c_str());
    EnableWindow(StopButton, StopButtonEnabled(state));
    InvalidateRect(ToolbarWindow, nullptr, TRUE);
    InvalidateRect(GetDlgItem(ToolbarWindow, ID_SHOW_CAMERA), nullptr, FALSE);  // lit while the camera shows
}
