#include "app/signin_window.h"

#include <shellapi.h>

#include <memory>

#include "app/capture_flows.h"
#include "app/shell.h"
#include "cloud/http_client.h"
#include "storage/log.h"

namespace {

constexpr int kIdPrompt = 700;
constexpr int kIdCode = 701;
constexpr int kIdHint = 702;
constexpr int kIdOpenBrowser = 703;
constexpr int kIdCancel = 704;

struct SignInWindowState {
    SignInStopFlag stop = std::make_shared<std::atomic<bool>>(false);
    DeviceCode code;
    bool codeReceived = false;
};

// At most one sign-in window exists, so its state is a single slot.
std::unique_ptr<SignInWindowState> State;

HFONT CodeFont() {
    static HFONT font = nullptr;
    if (font == nullptr) {
        LOGFONTW description{};
        description.lfHeight = -36;
        description.lfWeight = 700;
        lstrcpynW(description.lfFaceName, L"Segoe UI", LF_FACESIZE);
        font = CreateFontIndirectW(&description);
    }
    return font;
}

void AddControl(HWND parent, const wchar_t* windowClass, const wchar_t* text, DWORD style, int id, RECT box, HFONT font) {
    HWND control = CreateWindowExW(0, windowClass, text, WS_CHILD | WS_VISIBLE | style, box.left, box.top, box.right,
                                   box.bottom, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), Instance, nullptr);
    if (control != nullptr) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
}

}  // namespace

void ShowSignInWindow() {
    if (SignInWindow != nullptr) {
        SetForegroundWindow(SignInWindow);
        return;
    }
    auto state = std::make_unique<SignInWindowState>();
    const DWORD style = WS_CAPTION | WS_SYSMENU;
    const DWORD exStyle = WS_EX_CONTROLPARENT;
    HWND window = CreateWindowExW(exStyle, kSignInClass, L"Sign in with NIRA", style, CW_USEDEFAULT, CW_USEDEFAULT,
                                  CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, Instance, nullptr);
    if (window == nullptr) return;
    State = std::move(state);
    SignInWindow = window;

    AddControl(window, L"STATIC", L"Getting a sign-in code\u2026", SS_LEFT, kIdPrompt, {16, 14, 420, 60}, UiFont);
    AddControl(window, L"EDIT", L"", ES_READONLY | ES_CENTER | WS_TABSTOP, kIdCode, {16, 78, 420, 52}, CodeFont());
    AddControl(window, L"STATIC", L"", SS_LEFT, kIdHint, {16, 138, 420, 54}, UiFont);
    AddControl(window, L"BUTTON", L"&Open browser", BS_DEFPUSHBUTTON | WS_TABSTOP | WS_DISABLED, kIdOpenBrowser,
               {226, 204, 110, 32}, UiFont);
    AddControl(window, L"BUTTON", L"Cancel", BS_PUSHBUTTON | WS_TABSTOP, kIdCancel, {346, 204, 90, 32}, UiFont);

    RECT outer{0, 0, 452, 252};
    AdjustWindowRectEx(&outer, style, FALSE, exStyle);
    SetWindowPos(window, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);

    if (!UsesTestServer()) {
        ShowWindow(window, SW_SHOWNORMAL);
        SetForegroundWindow(window);
    }

    DWORD error = ERROR_SUCCESS;
    if (!StartDetachedThread([stop = State->stop, window] { SignInWorker(stop, window, MainWindow); }, error)) {
        // Without its worker the window would wait for a code forever.
        DestroyWindow(window);
        MessageBoxW(nullptr, L"Windows couldn't start the sign-in. Please try again.", L"NIRA Ostrel: sign in",
                    MB_ICONWARNING);
    }
}

void OpenVerificationPage(const DeviceCode& code) {
    if (UsesTestServer()) {
        Log(L"cloud: self-test, browser not opened");
        return;
    }
    if (!IsWebAddress(code.verificationUriComplete)) {
        Log(L"cloud: the confirmation page is not a web address, not opened");
        return;
    }
    ShellExecuteW(nullptr, L"open", code.verificationUriComplete.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void HandleSignInCode(SignInCodeMessage* message) {
    const std::unique_ptr<SignInCodeMessage> owned(message);
    if (message == nullptr || SignInWindow == nullptr || message->window != SignInWindow || !State) return;
    State->code = message->code;
    State->codeReceived = true;
    SetDlgItemTextW(SignInWindow, kIdPrompt,
                    L"Your browser opens Ostrel. Sign in with your NIRA account, check that it shows this code, and "
                    L"choose Allow:");
    SetDlgItemTextW(SignInWindow, kIdCode, message->code.userCode.c_str());
    const std::wstring hint = L"If the browser didn't open, go to " + AddressWithoutScheme(message->code.verificationUri) +
                              L" on any device and type the code. It works for 10 minutes.";
    SetDlgItemTextW(SignInWindow, kIdHint, hint.c_str());
    EnableWindow(GetDlgItem(SignInWindow, kIdOpenBrowser), TRUE);
    OpenVerificationPage(message->code);
}

LRESULT CALLBACK SignInWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case kIdOpenBrowser:
                    if (State && State->codeReceived) OpenVerificationPage(State->code);
                    break;
                case kIdCancel:
                case IDCANCEL:
                    DestroyWindow(window);
                    break;
                default:
                    break;
            }
            return 0;
        case WM_CLOSE:
            DestroyWindow(window);
            return 0;
        case WM_DESTROY:
            if (State) {
                State->stop->exchange(true);
                State.reset();
            }
            SignInWindow = nullptr;
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}
