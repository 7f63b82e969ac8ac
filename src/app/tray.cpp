#include "app/tray.h"

#include <shellapi.h>

#include "app/shell.h"

namespace {

template <size_t N>
void CopyCut(wchar_t (&target)[N], const std::wstring& text) {
    size_t length = text.size() < N - 1 ? text.size() : N - 1;
    // Never leave half of a surrogate pair at the cut.
    if (length < text.size() && length > 0 && text[length - 1] >= 0xD800 && text[length - 1] <= 0xDBFF) --length;
    text.copy(target, length);
    target[length] = L'\0';
}

}  // namespace

void AddTrayIcon() {
    static_assert(sizeof(NOTIFYICONDATAW) == 976, "the full NOTIFYICONDATAW record");
    TrayIcon = {};
    TrayIcon.cbSize = sizeof(NOTIFYICONDATAW);
    TrayIcon.hWnd = MainWindow;
    TrayIcon.uID = 1;
    TrayIcon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    TrayIcon.uCallbackMessage = WM_TRAYICON;
    TrayIcon.hIcon = SmallIcon;
    CopyCut(TrayIcon.szTip, kTrayTip);
    Shell_NotifyIconW(NIM_ADD, &TrayIcon);
    TrayIcon.uVersion = NOTIFYICON_VERSION_4;
    Shell_NotifyIconW(NIM_SETVERSION, &TrayIcon);
}

BOOL ShowBalloon(const std::wstring& title, const std::wstring& text, DWORD level) {
    NOTIFYICONDATAW copy = TrayIcon;
    copy.uFlags = NIF_INFO;
    copy.dwInfoFlags = level | NIIF_NOSOUND;
    CopyCut(copy.szInfoTitle, title);
    CopyCut(copy.szInfo, text);
    return Shell_NotifyIconW(NIM_MODIFY, &copy);
}
