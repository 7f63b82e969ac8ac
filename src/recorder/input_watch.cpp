#include "recorder/input_watch.h"

#include <atomic>
#include <cwctype>
#include <vector>

#include "common/steady_clock.h"
#include "common/unique_handle.h"
#include "storage/folders.h"
#include "storage/log.h"

using input_effects::Button;

namespace {

// The one watch whose hooks are in, for the hook procedures.
std::atomic<InputWatch*> Active{nullptr};

// The modifier keys as the keyboard hook saw them go down and up; only its thread uses them.
struct HeldKeys {
    bool leftCtrl = false, rightCtrl = false, leftAlt = false, rightAlt = false;
    bool leftShift = false, rightShift = false, leftWin = false, rightWin = false;
};
HeldKeys Held;

bool Down(int vk) { return (GetAsyncKeyState(vk) & 0x8000) != 0; }

bool* HeldFlag(DWORD vk) {
    switch (vk) {
        case VK_LCONTROL: return &Held.leftCtrl;
        case VK_RCONTROL: return &Held.rightCtrl;
        case VK_LMENU: return &Held.leftAlt;
        case VK_RMENU: return &Held.rightAlt;
        case VK_LSHIFT: return &Held.leftShift;
        case VK_RSHIFT: return &Held.rightShift;
        case VK_LWIN: return &Held.leftWin;
        case VK_RWIN: return &Held.rightWin;
        default: return nullptr;
    }
}

// An edit control for a password has the focus, in whichever program is in front.
bool PasswordFocused() {
    HWND front = GetForegroundWindow();
    if (front == nullptr) return false;
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(front, nullptr), &info) || info.hwndFocus == nullptr) return false;
    if ((GetWindowLongW(info.hwndFocus, GWL_STYLE) & ES_PASSWORD) == 0) return false;
    // ES_PASSWORD means other things to other controls: only edit controls count, of any make.
    wchar_t name[64] = {};
    GetClassNameW(info.hwndFocus, name, 64);
    for (wchar_t& c : name) c = static_cast<wchar_t>(std::towlower(c));
    return std::wstring(name).find(L"edit") != std::wstring::npos;
}

LRESULT CALLBACK MouseHook(int code, WPARAM message, LPARAM data) {
    InputWatch* watch = Active.load();
    if (code == HC_ACTION && watch != nullptr) {
        const auto* event = reinterpret_cast<const MSLLHOOKSTRUCT*>(data);
        switch (message) {
            case WM_LBUTTONDOWN: watch->Pressed(Button::Left, event->pt, true); break;
            case WM_LBUTTONUP: watch->Pressed(Button::Left, event->pt, false); break;
            case WM_RBUTTONDOWN: watch->Pressed(Button::Right, event->pt, true); break;
            case WM_RBUTTONUP: watch->Pressed(Button::Right, event->pt, false); break;
            case WM_MOUSEMOVE: watch->Moved(event->pt); break;
            default: break;
        }
    }
    return CallNextHookEx(nullptr, code, message, data);
}

LRESULT CALLBACK KeyboardHook(int code, WPARAM message, LPARAM data) {
    InputWatch* watch = Active.load();
    if (code == HC_ACTION && watch != nullptr) {
        const auto* event = reinterpret_cast<const KBDLLHOOKSTRUCT*>(data);
        const bool down = message == WM_KEYDOWN || message == WM_SYSKEYDOWN;
        if (bool* flag = HeldFlag(event->vkCode)) {
            *flag = down;
        } else if (down) {
            input_effects::KeyModifiers mods;
            mods.ctrl = Held.leftCtrl || Held.rightCtrl;
            mods.alt = Held.leftAlt || Held.rightAlt;
            mods.shift = Held.leftShift || Held.rightShift;
            mods.win = Held.leftWin || Held.rightWin;
            mods.altGr = Held.rightAlt;
            const auto character = static_cast<wchar_t>(MapVirtualKeyW(event->vkCode, MAPVK_VK_TO_CHAR) & 0xFFFF);
            // Only what would show is looked at further; nothing of the rest is kept.
            std::wstring label = input_effects::KeyCombinationText(event->vkCode, character, mods, false);
            if (!label.empty() && !PasswordFocused()) watch->Keyed(std::move(label));
        }
    }
    return CallNextHookEx(nullptr, code, message, data);
}

// The label's text in white on black, its coverage read from the red channel.
input_effects::TextMask RenderText(const std::wstring& text, int32_t height) {
    input_effects::TextMask mask;
    HDC dc = CreateCompatibleDC(nullptr);
    if (dc == nullptr) return mask;
    HFONT font = CreateFontW(-height, 0, 0, 0, FW_SEMIBOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Segoe UI");
    HGDIOBJ oldFont = SelectObject(dc, font);
    SIZE size{};
    if (GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size) && size.cx > 0 && size.cy > 0 &&
        size.cx <= 8192 && size.cy <= 1024) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = size.cx;
        info.bmiHeader.biHeight = -size.cy;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (bitmap != nullptr && bits != nullptr) {
            HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
            SetTextColor(dc, RGB(255, 255, 255));
            SetBkColor(dc, RGB(0, 0, 0));
            const RECT all{0, 0, size.cx, size.cy};
            ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &all, text.c_str(), static_cast<UINT>(text.size()), nullptr);
            GdiFlush();
            mask.width = size.cx;
            mask.height = size.cy;
            mask.coverage.resize(static_cast<size_t>(size.cx) * static_cast<size_t>(size.cy));
            const auto* pixels = static_cast<const uint8_t*>(bits);
            for (size_t i = 0; i < mask.coverage.size(); ++i) mask.coverage[i] = pixels[i * 4 + 2];
            SelectObject(dc, oldBitmap);
        }
        if (bitmap != nullptr) DeleteObject(bitmap);
    }
    SelectObject(dc, oldFont);
    if (font != nullptr) DeleteObject(font);
    DeleteDC(dc);
    return mask;
}

}  // namespace

InputPlatform& InputFunctions() {
    static InputPlatform functions;
    return functions;
}

bool InputWatch::Start(bool clicks, bool keys) {
    Stop();
    if (!clicks && !keys) return false;
    InputWatch* none = nullptr;
    if (!Active.compare_exchange_strong(none, this)) return false;
    UniqueHandle ready(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!ready) {
        Active = nullptr;
        return false;
    }
    try {
        thread_ = std::thread([this, clicks, keys, event = ready.Get()] { Run(clicks, keys, event); });
    } catch (const std::exception&) {
        Active = nullptr;
        return false;
    }
    WaitForSingleObject(ready.Get(), INFINITE);
    if (!installed_) {
        thread_.join();
        Active = nullptr;
    }
    return installed_;
}

void InputWatch::Run(bool clicks, bool keys, HANDLE ready) {
    MSG message;
    PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);  // the queue exists before anyone posts
    threadId_ = GetCurrentThreadId();
    Held = HeldKeys{Down(VK_LCONTROL), Down(VK_RCONTROL), Down(VK_LMENU), Down(VK_RMENU),
                    Down(VK_LSHIFT),   Down(VK_RSHIFT),   Down(VK_LWIN),  Down(VK_RWIN)};
    const HINSTANCE module = GetModuleHandleW(nullptr);
    HHOOK mouse = clicks ? InputFunctions().setWindowsHookEx(WH_MOUSE_LL, MouseHook, module, 0) : nullptr;
    const DWORD mouseError = GetLastError();
    HHOOK keyboard = keys ? InputFunctions().setWindowsHookEx(WH_KEYBOARD_LL, KeyboardHook, module, 0) : nullptr;
    const DWORD keyboardError = GetLastError();
    if (clicks && mouse == nullptr)
        Log(L"Clicks are not shown: the mouse could not be watched (%s)", ErrorText(mouseError).c_str());
    if (keys && keyboard == nullptr)
        Log(L"Key combinations are not shown: the keyboard could not be watched (%s)", ErrorText(keyboardError).c_str());
    installed_ = mouse != nullptr || keyboard != nullptr;
    SetEvent(ready);
    if (installed_) {
        // The hooks are called from this loop; their procedures only take note.
        while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    }
    if (mouse != nullptr) InputFunctions().unhookWindowsHookEx(mouse);
    if (keyboard != nullptr) InputFunctions().unhookWindowsHookEx(keyboard);
}

void InputWatch::Stop() {
    if (!thread_.joinable()) return;
    // The queue was made before Start returned, so the message cannot be lost.
    PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
    thread_.join();
    installed_ = false;
    Active = nullptr;
    std::lock_guard<std::mutex> hold(lock_);
    log_ = {};
}

void InputWatch::Pressed(Button button, POINT point, bool down) {
    const int64_t now = SteadyHundredNs();
    std::lock_guard<std::mutex> hold(lock_);
    if (down)
        log_.Press(button, point.x, point.y, now);
    else
        log_.Release(button);
}

void InputWatch::Moved(POINT point) {
    std::lock_guard<std::mutex> hold(lock_);
    log_.Move(point.x, point.y);
}

void InputWatch::Keyed(std::wstring label) {
    const int64_t now = SteadyHundredNs();
    std::lock_guard<std::mutex> hold(lock_);
    log_.Keys(std::move(label), now);
}

void InputWatch::Draw(uint8_t* nv12, int32_t width, int32_t height, const input_effects::PictureMapping& mapping,
                      int64_t time) {
    input_effects::EffectsNow now;
    {
        std::lock_guard<std::mutex> hold(lock_);
        now = log_.At(time);
    }
    if (now.rings.empty() && now.label.empty()) return;
    // Rendered on this thread, outside the lock the hooks take.
    const int32_t textHeight = input_effects::LabelTextHeight(mapping);
    if (!now.label.empty() && (now.label != textLabel_ || textHeight != textHeight_)) {
        text_ = RenderText(now.label, textHeight);
        textLabel_ = now.label;
        textHeight_ = textHeight;
    }
    input_effects::DrawEffects(nv12, width, height, mapping, now, now.label.empty() ? nullptr : &text_);
}
