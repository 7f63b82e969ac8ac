// OstrelDriver: the end-to-end tests' hand on the tray program under Wine.
// It finds top-level windows by class and posts messages to them.
//
//   OstrelDriver find CLASS                      exit 0 when a window exists
//   OstrelDriver wait CLASS SECONDS              exit 0 once one exists, 1 at the time limit
//   OstrelDriver gone CLASS SECONDS              exit 0 once none exists, 1 at the time limit
//   OstrelDriver post CLASS MESSAGE WPARAM LPARAM  post a message (numbers in decimal or 0x hex)
//   OstrelDriver close CLASS                     post WM_CLOSE
//   OstrelDriver clipboard-dib FILE              write the clipboard's CF_DIB block to FILE
//   OstrelDriver clipboard-text FILE             write the clipboard's CF_UNICODETEXT block to FILE
//   OstrelDriver hold-clipboard SECONDS          keep the clipboard open (busy) that long
//   OstrelDriver hold-file FILE SECONDS          keep FILE open without delete sharing that long;
//                                                prints "holding" once open
//   OstrelDriver show-picture FILE.bmp [X Y TITLE]  cover the primary monitor with the picture
//                                                until ended, or show it in a window of its own
//                                                size at X, Y with that title (a window another
//                                                program can list); prints "showing" once painted
//   OstrelDriver answer CAPTION BUTTON SECONDS FILE  wait for a message box with that caption,
//                                                write its text (UTF-8) to FILE, press BUTTON
//                                                (1 OK, 2 Cancel, 6 Yes, 7 No; 0 presses
//                                                nothing) and wait until the box is gone
//   OstrelDriver rect CLASS                      print the window's screen rectangle: left top right bottom
//   OstrelDriver client CLASS                    print the window's client size: width height
//   OstrelDriver count CLASS                     print how many top-level windows have the class
//   OstrelDriver get-text CLASS ID               print the text (UTF-8) of child ID, or of the window for 0
//   OstrelDriver set-text CLASS ID TEXT          set the text of child ID
//   OstrelDriver send CLASS ID MESSAGE WPARAM LPARAM  send a message to child ID; print the result
//   OstrelDriver post-child CLASS ID MESSAGE WPARAM LPARAM  post a message to child ID (it goes
//                                                through the program's message loop)
//   OstrelDriver double-click CLASS ID          post the mouse messages of a double-click
//                                                on the middle of child ID
//   OstrelDriver focus CLASS                     print the id of the control that has the
//                                                keyboard focus in the window's thread
//                                                (0: the window itself, -1: none)
//   OstrelDriver hold-mutex NAME SECONDS         hold a mutex that this user may not open,
//                                                as a program running elevated does; prints "holding"
//   OstrelDriver hold-hotkey MODIFIERS KEY SECONDS  hold a system-wide shortcut that long;
//                                                prints "holding" or "refused"
//   OstrelDriver presses SECONDS [password]        a grey screen whose top left square turns at each press;
//                                                prints "showing"
//   OstrelDriver hold-desktop SECONDS            keep Wine's desktop open that long; prints "holding W H"
//
// Every wait is bounded by its SECONDS argument.
#include <windows.h>

#include <cstdio>
#include <vector>
#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <string>

namespace {

unsigned long long Number(const wchar_t* text) { return std::wcstoull(text, nullptr, 0); }

HWND Find(const wchar_t* windowClass) { return FindWindowW(windowClass, nullptr); }

bool WaitFor(const wchar_t* windowClass, double seconds, bool present) {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000.0);
    for (;;) {
        if ((Find(windowClass) != nullptr) == present) return true;
        if (GetTickCount64() >= deadline) return false;
        Sleep(50);
    }
}

// One attempt at reading one of the clipboard's blocks into FILE.
int SaveClipboardOnce(UINT format, const wchar_t* file) {
    if (!OpenClipboard(nullptr)) return 1;
    int result = 1;
    if (HANDLE data = GetClipboardData(format)) {
        const SIZE_T size = GlobalSize(data);
        if (const void* bytes = GlobalLock(data)) {
            if (FILE* out = _wfopen(file, L"wb")) {
                if (std::fwrite(bytes, 1, size, out) == size) result = 0;
                std::fclose(out);
            }
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return result;
}

// The clipboard may be busy for a moment (another program, or Wine taking
// over the content of a program that has ended): tries for up to 5 seconds.
int SaveClipboard(UINT format, const wchar_t* file) {
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (SaveClipboardOnce(format, file) == 0) return 0;
        Sleep(100);
    }
    return 1;
}

int HoldClipboard(double seconds) {
    if (!OpenClipboard(nullptr)) return 1;
    std::puts("holding");
    std::fflush(stdout);
    Sleep(static_cast<DWORD>(seconds * 1000.0));
    CloseClipboard();
    return 0;
}

HBITMAP Picture = nullptr;

LRESULT CALLBACK PictureProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT) {
        PAINTSTRUCT paint;
        HDC target = BeginPaint(window, &paint);
        HDC source = CreateCompatibleDC(target);
        HGDIOBJ previous = SelectObject(source, Picture);
        BITMAP info{};
        GetObjectW(Picture, sizeof info, &info);
        BitBlt(target, 0, 0, info.bmWidth, info.bmHeight, source, 0, 0, SRCCOPY);
        SelectObject(source, previous);
        DeleteDC(source);
        EndPaint(window, &paint);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// A plain picture window over the whole primary monitor: what the screen
// shows is then known exactly, whatever the desktop does with its background.
int ShowPicture(const wchar_t* file, const wchar_t* x = nullptr, const wchar_t* y = nullptr,
                const wchar_t* title = nullptr) {
    Picture = static_cast<HBITMAP>(LoadImageW(nullptr, file, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION));
    if (Picture == nullptr) return 1;
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = PictureProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"OstrelDriverPicture";
    RegisterClassW(&windowClass);
    int width = GetSystemMetrics(SM_CXSCREEN);
    int height = GetSystemMetrics(SM_CYSCREEN);
    if (title != nullptr) {
        BITMAP info{};
        GetObjectW(Picture, sizeof info, &info);
        width = info.bmWidth;
        height = info.bmHeight;
    }
    HWND window = CreateWindowExW(title != nullptr ? WS_EX_TOPMOST : WS_EX_TOPMOST | WS_EX_TOOLWINDOW,
                                  L"OstrelDriverPicture", title != nullptr ? title : L"", WS_POPUP | WS_VISIBLE,
                                  x != nullptr ? static_cast<int>(Number(x)) : 0,
                                  y != nullptr ? static_cast<int>(Number(y)) : 0, width, height, nullptr, nullptr,
                                  windowClass.hInstance, nullptr);
    if (window == nullptr) return 1;
    UpdateWindow(window);
    GdiFlush();
    std::puts("showing");
    std::fflush(stdout);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    return 0;
}

LRESULT CALLBACK PlainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_ERASEBKGND) {
        RECT area{};
        GetClientRect(window, &area);
        HBRUSH brush = CreateSolidBrush(static_cast<COLORREF>(GetWindowLongPtrW(window, GWLP_USERDATA)));
        FillRect(reinterpret_cast<HDC>(wParam), &area, brush);
        DeleteObject(brush);
        return 1;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// Handles this thread's messages for `seconds`, keys turned into characters.
void PumpFor(double seconds) {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000.0);
    for (ULONGLONG now = GetTickCount64(); now < deadline; now = GetTickCount64()) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(deadline - now), QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

// A window of one colour that lives for `seconds`: a tooltip-like one (on
// top, never active) or an ordinary one that takes the foreground.
int ShowPlain(bool tooltip, int x, int y, int width, int height, COLORREF colour, double seconds) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = PlainProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"OstrelDriverPlain";
    RegisterClassW(&windowClass);
    const DWORD extended = tooltip ? WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE : WS_EX_TOPMOST;
    HWND window = CreateWindowExW(extended, L"OstrelDriverPlain", tooltip ? L"" : L"Ostrel driver window", WS_POPUP, x, y,
                                  width, height, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (window == nullptr) return 1;
    SetWindowLongPtrW(window, GWLP_USERDATA, static_cast<LONG_PTR>(colour));
    ShowWindow(window, tooltip ? SW_SHOWNOACTIVATE : SW_SHOW);
    if (!tooltip) SetForegroundWindow(window);
    UpdateWindow(window);
    GdiFlush();
    std::puts("showing");
    std::fflush(stdout);
    PumpFor(seconds);
    DestroyWindow(window);
    return 0;
}

// A grey window over the whole screen whose top left square turns over,
// white to black and back, at each press of a mouse button, so a recording
// shows when the window saw it. With `password`, a password field in it has
// the focus.
bool PressesFlipped = false;

LRESULT CALLBACK PressesProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_LBUTTONDOWN || message == WM_RBUTTONDOWN) {
        PressesFlipped = !PressesFlipped;
        InvalidateRect(window, nullptr, FALSE);
    } else if (message == WM_PAINT) {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        RECT area{};
        GetClientRect(window, &area);
        HBRUSH grey = CreateSolidBrush(RGB(120, 120, 120));
        FillRect(dc, &area, grey);
        DeleteObject(grey);
        const RECT square{0, 0, 120, 120};
        FillRect(dc, &square, static_cast<HBRUSH>(GetStockObject(PressesFlipped ? BLACK_BRUSH : WHITE_BRUSH)));
        EndPaint(window, &paint);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

int ShowPresses(double seconds, bool password) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = PressesProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"OstrelDriverPresses";
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, L"OstrelDriverPresses", L"Ostrel driver presses", WS_POPUP,
                                  GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN),
                                  GetSystemMetrics(SM_CXVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN), nullptr,
                                  nullptr, windowClass.hInstance, nullptr);
    if (window == nullptr) return 1;
    HWND field = password ? CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | WS_BORDER | ES_PASSWORD, 200, 40,
                                            300, 28, window, nullptr, windowClass.hInstance, nullptr)
                          : nullptr;
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    SetFocus(field != nullptr ? field : window);
    UpdateWindow(window);
    GdiFlush();
    std::puts("showing");
    std::fflush(stdout);
    PumpFor(seconds);
    DestroyWindow(window);
    return 0;
}

double Milliseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// A drag across `window` from `from` over `span` in `moves` steps: the
// milliseconds from each WM_MOUSEMOVE to the end of its paint, sorted.
std::vector<double> TimedDrag(HWND window, POINT from, POINT span, int moves) {
    SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(from.x, from.y));
    UpdateWindow(window);
    std::vector<double> times;
    for (int i = 0; i < moves; ++i) {
        const int x = from.x + span.x * (i + 1) / moves;
        const int y = from.y + span.y * (i + 1) / moves;
        LARGE_INTEGER before, after;
        QueryPerformanceCounter(&before);
        SendMessageW(window, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x, y));
        UpdateWindow(window);
        QueryPerformanceCounter(&after);
        times.push_back(Milliseconds(before, after));
    }
    std::sort(times.begin(), times.end());
    return times;
}

// Milliseconds from posting `message` to the main window until a visible
// window of `overlayClass` has painted, then `moves` drags across it and the
// milliseconds from each WM_MOUSEMOVE to the end of its paint: median and worst.
int OverlayTiming(const wchar_t* mainClass, UINT message, WPARAM wParam, const wchar_t* overlayClass, int moves) {
    HWND main = FindWindowW(mainClass, nullptr);
    if (main == nullptr) return 1;
    LARGE_INTEGER start, shown;
    QueryPerformanceCounter(&start);
    PostMessageW(main, message, wParam, 0);
    HWND overlay = nullptr;
    for (;;) {
        overlay = FindWindowW(overlayClass, nullptr);
        if (overlay != nullptr && IsWindowVisible(overlay)) break;
        QueryPerformanceCounter(&shown);
        if (Milliseconds(start, shown) > 10000) return 1;
        Sleep(0);
    }
    UpdateWindow(overlay);  // returns once its first paint is done
    QueryPerformanceCounter(&shown);
    std::printf("shown after %.1f ms\n", Milliseconds(start, shown));
    if (moves > 0) {
        RECT area{};
        GetClientRect(overlay, &area);
        const std::vector<double> times = TimedDrag(overlay, {area.right / 8, area.bottom / 8},
                                                    {area.right * 3 / 4, area.bottom * 3 / 4}, moves);
        std::printf("move painted: median %.2f ms, worst %.2f ms over %d moves\n", times[times.size() / 2],
                    times.back(), moves);
    }
    PostMessageW(overlay, WM_KEYDOWN, VK_ESCAPE, 0);
    return 0;
}

// Milliseconds from asking the running program to edit `file` (as a second
// start with --edit does) until its editor has painted; then, with the
// rectangle tool, `moves` drag steps, each from WM_MOUSEMOVE to the end of its
// paint: median and worst.
int EditorTiming(const wchar_t* file, int moves) {
    HWND main = FindWindowW(L"NIRAOstrelWindowsMain", nullptr);
    if (main == nullptr) return 1;
    const std::wstring path = file;
    COPYDATASTRUCT data{};
    data.dwData = 0x4F53454Eu;  // the program's tag for an edit request
    data.cbData = static_cast<DWORD>(path.size() * sizeof(wchar_t));
    data.lpData = const_cast<wchar_t*>(path.data());
    LARGE_INTEGER start, shown;
    QueryPerformanceCounter(&start);
    if (SendMessageW(main, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data)) != TRUE) return 1;
    // The request is answered at once; the window comes, reads the picture
    // away from its thread, and is titled with its file once it shows it.
    HWND editor = nullptr;
    for (int waited = 0; waited < 60000; ++waited) {
        editor = FindWindowW(L"NIRAOstrelEditor", nullptr);
        wchar_t title[16] = {};
        if (editor != nullptr && GetWindowTextW(editor, title, 16) > 0 && std::wcsncmp(title, L"Opening ", 8) != 0) break;
        editor = nullptr;
        Sleep(1);
    }
    if (editor == nullptr) return 1;
    UpdateWindow(editor);
    QueryPerformanceCounter(&shown);
    std::printf("opened and painted after %.1f ms\n", Milliseconds(start, shown));
    RECT area{};
    GetClientRect(editor, &area);
    SendMessageW(editor, WM_KEYDOWN, 'R', 0);
    const std::vector<double> times =
        TimedDrag(editor, {area.right / 8, area.bottom / 4}, {area.right * 3 / 4, area.bottom / 2}, moves);
    if (!times.empty()) {
        std::printf("drag step painted: median %.2f ms, worst %.2f ms over %d steps\n", times[times.size() / 2],
                    times.back(), moves);
    }
    // The drag is dropped, so the editor closes without asking.
    SendMessageW(editor, WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageW(editor, WM_CLOSE, 0, 0);
    return 0;
}

// Files in `folder` whose names begin with `lead` and end with `tail`.
int CountFiles(const std::wstring& folder, const std::wstring& lead, const std::wstring& tail) {
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW((folder + L"\\" + lead + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    int count = 0;
    do {
        const std::wstring name = found.cFileName;
        count += name.size() >= tail.size() && name.compare(name.size() - tail.size(), tail.size(), tail) == 0 ? 1 : 0;
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return count;
}

// What a user waits for after a shortcut, in milliseconds from posting it to
// the main window: for "screenshot" (WM_HOTKEY 3) until the clipboard changes
// and until a new PNG is in `folder`; for "record" (WM_HOTKEY 1, with no
// countdown) until the recording's file is there, then it is stopped and
// saved.
int Latency(const std::wstring& kind, const std::wstring& folder) {
    HWND main = FindWindowW(L"NIRAOstrelWindowsMain", nullptr);
    if (main == nullptr) return 1;
    const bool screenshot = kind == L"screenshot";
    const int pngs = CountFiles(folder, L"Screenshot ", L".png");
    const int recordings = CountFiles(folder, L"Recording ", L".mp4");
    const DWORD sequence = GetClipboardSequenceNumber();
    LARGE_INTEGER start, now;
    QueryPerformanceCounter(&start);
    PostMessageW(main, WM_HOTKEY, screenshot ? 3 : 1, 0);
    double clipboard = -1, file = -1;
    for (;;) {
        QueryPerformanceCounter(&now);
        const double elapsed = Milliseconds(start, now);
        if (elapsed > 30000) return 1;
        if (screenshot) {
            if (clipboard < 0 && GetClipboardSequenceNumber() != sequence) clipboard = elapsed;
            if (file < 0 && CountFiles(folder, L"Screenshot ", L".png") > pngs) file = elapsed;
            if (clipboard >= 0 && file >= 0) break;
        } else if (CountFiles(folder, L"Recording ", L".mp4.part") > 0) {
            file = elapsed;
            break;
        }
        Sleep(1);
    }
    if (screenshot) {
        std::printf("clipboard %.1f ms, png %.1f ms\n", clipboard, file);
        return 0;
    }
    std::printf("recording file %.1f ms\n", file);
    Sleep(1000);
    PostMessageW(main, WM_HOTKEY, 1, 0);
    for (int waited = 0; waited < 3000 && CountFiles(folder, L"Recording ", L".mp4") <= recordings; ++waited) Sleep(10);
    return 0;
}

// A message box is a top-level dialog with the caption; its text is the static with id 0xFFFF.
HWND FindBox(const wchar_t* caption) {
    HWND box = FindWindowW(L"#32770", caption);
    return box != nullptr && IsWindowVisible(box) ? box : nullptr;
}

int Answer(const wchar_t* caption, int button, double seconds, const wchar_t* file) {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000.0);
    HWND box = nullptr;
    while ((box = FindBox(caption)) == nullptr) {
        if (GetTickCount64() >= deadline) return 1;
        Sleep(50);
    }
    wchar_t text[4096] = {};
    GetDlgItemTextW(box, 0xFFFF, text, 4096);
    char utf8[16384] = {};
    const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
    if (FILE* out = _wfopen(file, L"wb")) {
        if (length > 1) std::fwrite(utf8, 1, static_cast<size_t>(length - 1), out);
        std::fclose(out);
    }
    if (button == 0) return 0;
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
    while (IsWindow(box)) {
        if (GetTickCount64() >= deadline) return 1;
        Sleep(50);
    }
    return 0;
}

int HoldHotkey(UINT modifiers, UINT key, double seconds) {
    const bool held = RegisterHotKey(nullptr, 1, modifiers, key) != FALSE;
    std::puts(held ? "holding" : "refused");
    std::fflush(stdout);
    if (!held) return 1;
    Sleep(static_cast<DWORD>(seconds * 1000.0));
    UnregisterHotKey(nullptr, 1);
    return 0;
}

HWND Target(const wchar_t* windowClass, const wchar_t* id) {
    HWND window = Find(windowClass);
    if (window == nullptr) return nullptr;
    const int child = static_cast<int>(Number(id));
    return child == 0 ? window : GetDlgItem(window, child);
}

int PrintText(HWND window) {
    if (window == nullptr) return 1;
    wchar_t text[4096] = {};
    GetWindowTextW(window, text, 4096);
    char utf8[16384] = {};
    WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
    std::fputs(utf8, stdout);
    return 0;
}

int HoldFile(const wchar_t* file, double seconds) {
    HANDLE handle = CreateFileW(file, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return 1;
    std::puts("holding");
    std::fflush(stdout);
    Sleep(static_cast<DWORD>(seconds * 1000.0));
    CloseHandle(handle);
    return 0;
}

// Presses a chord as the keyboard would, through the system's input: each
// key in `chord` ("ctrl+alt+S": ctrl, alt, shift and one letter or digit)
// goes down in order and up in reverse, with `window` in the foreground, so
// the program reads the same key state Windows gives it for AltGr.
int Chord(HWND window, const std::wstring& chord) {
    if (window == nullptr) return 1;
    std::vector<WORD> keys;
    for (size_t at = 0; at <= chord.size();) {
        const size_t end = std::min(chord.find(L'+', at), chord.size());
        const std::wstring part = chord.substr(at, end - at);
        if (part == L"ctrl") keys.push_back(VK_CONTROL);
        else if (part == L"alt") keys.push_back(VK_MENU);
        else if (part == L"shift") keys.push_back(VK_SHIFT);
        else if (part.size() == 1) keys.push_back(static_cast<WORD>(std::towupper(part[0])));
        else return 1;
        at = end + 1;
    }
    SetForegroundWindow(window);
    SetFocus(window);
    Sleep(100);
    std::vector<INPUT> inputs;
    for (WORD key : keys) {
        INPUT down{};
        down.type = INPUT_KEYBOARD;
        down.ki.wVk = key;
        inputs.push_back(down);
    }
    for (auto it = keys.rbegin(); it != keys.rend(); ++it) {
        INPUT up{};
        up.type = INPUT_KEYBOARD;
        up.ki.wVk = *it;
        up.ki.dwFlags = KEYEVENTF_KEYUP;
        inputs.push_back(up);
    }
    return SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT)) == inputs.size() ? 0 : 1;
}

int DoubleClick(HWND button) {
    RECT rect{};
    if (button == nullptr || !GetClientRect(button, &rect)) return 1;
    const LPARAM middle = MAKELPARAM((rect.right - rect.left) / 2, (rect.bottom - rect.top) / 2);
    const UINT messages[] = {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP};
    for (UINT message : messages)
        if (!PostMessageW(button, message, message == WM_LBUTTONUP ? 0 : MK_LBUTTON, middle)) return 1;
    return 0;
}

int PrintFocus(HWND window) {
    if (window == nullptr) return 1;
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return 1;
    const int id = info.hwndFocus == nullptr ? -1 : info.hwndFocus == window ? 0 : GetDlgCtrlID(info.hwndFocus);
    std::printf("%d\n", id);
    return 0;
}

// A security descriptor whose access list is empty grants nobody anything.
int HoldMutex(const wchar_t* name, double seconds) {
    SECURITY_DESCRIPTOR descriptor{};
    ACL empty{};
    if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !InitializeAcl(&empty, sizeof empty, ACL_REVISION) || !SetSecurityDescriptorDacl(&descriptor, TRUE, &empty, FALSE))
        return 1;
    SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, FALSE};
    HANDLE mutex = CreateMutexW(&attributes, TRUE, name);
    if (mutex == nullptr) return 1;
    std::puts("holding");
    std::fflush(stdout);
    Sleep(static_cast<DWORD>(seconds * 1000.0));
    CloseHandle(mutex);
    return 0;
}

// Wine closes its desktop a second after the last program on it ends, and a
// program that starts just then loses its windows with it: a window of this
// process keeps the desktop in use between the tests' programs.
int HoldDesktop(double seconds) {
    HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    if (window == nullptr) return 1;
    // The size Wine measured its screen at, so that a wrong measure shows before a test relies on it.
    std::printf("holding %d %d\n", GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    std::fflush(stdout);
    Sleep(static_cast<DWORD>(seconds * 1000.0));
    DestroyWindow(window);
    return 0;
}

int Usage() {
    std::fputs("usage: OstrelDriver find|wait|gone|post|close CLASS [...]\n", stderr);
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return Usage();
    const std::wstring command = argv[1];
    if (command == L"clipboard-dib") return SaveClipboard(CF_DIB, argv[2]);
    if (command == L"clipboard-text") return SaveClipboard(CF_UNICODETEXT, argv[2]);
    if (command == L"hold-clipboard") return HoldClipboard(std::wcstod(argv[2], nullptr));
    if (command == L"show-picture" && argc >= 6) return ShowPicture(argv[2], argv[3], argv[4], argv[5]);
    if (command == L"show-picture") return ShowPicture(argv[2]);
    if (command == L"answer" && argc >= 6)
        return Answer(argv[2], static_cast<int>(Number(argv[3])), std::wcstod(argv[4], nullptr), argv[5]);
    if (command == L"hold-hotkey" && argc >= 5)
        return HoldHotkey(static_cast<UINT>(Number(argv[2])), static_cast<UINT>(Number(argv[3])),
                          std::wcstod(argv[4], nullptr));
    if (command == L"hold-file" && argc >= 4) return HoldFile(argv[2], std::wcstod(argv[3], nullptr));
    if (command == L"hold-mutex" && argc >= 4) return HoldMutex(argv[2], std::wcstod(argv[3], nullptr));
    if (command == L"hold-desktop") return HoldDesktop(std::wcstod(argv[2], nullptr));
    if (command == L"presses")
        return ShowPresses(std::wcstod(argv[2], nullptr), argc >= 4 && std::wstring(argv[3]) == L"password");
    if ((command == L"tooltip" || command == L"foreground") && argc >= 8)
        return ShowPlain(command == L"tooltip", static_cast<int>(Number(argv[2])), static_cast<int>(Number(argv[3])),
                         static_cast<int>(Number(argv[4])), static_cast<int>(Number(argv[5])),
                         static_cast<COLORREF>(Number(argv[6])), std::wcstod(argv[7], nullptr));
    if (command == L"pointer" && argc >= 4)
        return SetCursorPos(static_cast<int>(Number(argv[2])), static_cast<int>(Number(argv[3]))) ? 0 : 1;
    if (command == L"minimize") {
        HWND window = FindWindowW(nullptr, argv[2]);
        return window != nullptr && ShowWindow(window, SW_MINIMIZE) >= 0 && IsIconic(window) ? 0 : 1;
    }
    if (command == L"latency" && argc >= 4) return Latency(argv[2], argv[3]);
    if (command == L"editor-timing" && argc >= 4) return EditorTiming(argv[2], static_cast<int>(Number(argv[3])));
    if (command == L"overlay-timing" && argc >= 7)
        return OverlayTiming(argv[2], static_cast<UINT>(Number(argv[3])), static_cast<WPARAM>(Number(argv[4])), argv[5],
                             static_cast<int>(Number(argv[6])));
    const wchar_t* windowClass = argv[2];
    if (command == L"find") {
        HWND window = Find(windowClass);
        if (window != nullptr) std::printf("%llu\n", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(window)));
        return window != nullptr ? 0 : 1;
    }
    if (command == L"wait" && argc >= 4) return WaitFor(windowClass, std::wcstod(argv[3], nullptr), true) ? 0 : 1;
    if (command == L"gone" && argc >= 4) return WaitFor(windowClass, std::wcstod(argv[3], nullptr), false) ? 0 : 1;
    if (command == L"post" && argc >= 6) {
        HWND window = Find(windowClass);
        if (window == nullptr) return 1;
        return PostMessageW(window, static_cast<UINT>(Number(argv[3])), static_cast<WPARAM>(Number(argv[4])),
                            static_cast<LPARAM>(Number(argv[5])))
                   ? 0
                   : 1;
    }
    if (command == L"answers" && argc >= 4) {
        // Whether the window's thread takes a message within that many milliseconds.
        HWND window = Find(windowClass);
        DWORD_PTR result = 0;
        return window != nullptr && SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL,
                                                        static_cast<UINT>(Number(argv[3])), &result) != 0
                   ? 0
                   : 1;
    }
    if (command == L"visible") {
        HWND window = Find(windowClass);
        if (window == nullptr) return 1;
        std::puts(IsWindowVisible(window) ? "1" : "0");
        return 0;
    }
    if (command == L"rect") {
        RECT rect{};
        HWND window = Find(windowClass);
        if (window == nullptr || !GetWindowRect(window, &rect)) return 1;
        std::printf("%ld %ld %ld %ld\n", rect.left, rect.top, rect.right, rect.bottom);
        return 0;
    }
    if (command == L"client") {
        RECT rect{};
        HWND window = Find(windowClass);
        if (window == nullptr || !GetClientRect(window, &rect)) return 1;
        std::printf("%ld %ld\n", rect.right, rect.bottom);
        return 0;
    }
    if (command == L"count") {
        int count = 0;
        for (HWND window = nullptr; (window = FindWindowExW(nullptr, window, windowClass, nullptr)) != nullptr;) ++count;
        std::printf("%d\n", count);
        return 0;
    }
    if (command == L"get-text" && argc >= 4) return PrintText(Target(windowClass, argv[3]));
    if (command == L"set-text" && argc >= 5) {
        HWND target = Target(windowClass, argv[3]);
        return target != nullptr && SetWindowTextW(target, argv[4]) ? 0 : 1;
    }
    if (command == L"send" && argc >= 7) {
        HWND target = Target(windowClass, argv[3]);
        if (target == nullptr) return 1;
        const LRESULT result = SendMessageW(target, static_cast<UINT>(Number(argv[4])),
                                            static_cast<WPARAM>(Number(argv[5])), static_cast<LPARAM>(Number(argv[6])));
        std::printf("%lld\n", static_cast<long long>(result));
        return 0;
    }
    if (command == L"post-child" && argc >= 7) {
        HWND target = Target(windowClass, argv[3]);
        return target != nullptr && PostMessageW(target, static_cast<UINT>(Number(argv[4])),
                                                 static_cast<WPARAM>(Number(argv[5])), static_cast<LPARAM>(Number(argv[6])))
                   ? 0
                   : 1;
    }
    if (command == L"chord" && argc >= 4) return Chord(Find(windowClass), argv[3]);
    if (command == L"double-click" && argc >= 4) return DoubleClick(Target(windowClass, argv[3]));
    if (command == L"focus") return PrintFocus(Find(windowClass));
    if (command == L"close") {
        HWND window = Find(windowClass);
        return window != nullptr && PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : 1;
    }
    return Usage();
}
