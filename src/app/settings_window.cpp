// The settings window: standard controls built in code, one window at a
// time. Save checks the folder and the shortcuts, then replaces the
// settings, writes them and registers the shortcuts again.
#include "app/settings_window.h"

#include <windows.h>
#include <commctrl.h>
#include <shobjidl.h>

#include <algorithm>
#include <iterator>
#include <vector>

#include "app/camera_bubble.h"
#include "app/hotkeys.h"
#include "app/settings_form_core.h"
#include "app/shell.h"
#include "app/toolbar.h"
#include "audio/audio_source.h"
#include "camera/camera.h"
#include "app/save_flow.h"
#include "storage/folders.h"
#include "storage/settings.h"
#include "storage/sign_in_start.h"
#include "storage/storage_core.h"

namespace {

enum : WORD {
    IDC_RESOLUTION = 500,
    IDC_FPS = 501,
    IDC_COUNTDOWN = 502,
    IDC_SCREENSHOT_DELAY = 503,
    IDC_SYSTEM_AUDIO = 504,
    IDC_MICROPHONE = 505,
    IDC_MICROPHONE_ID = 506,
    IDC_CURSOR = 507,
    IDC_FOLDER = 508,
    IDC_BROWSE = 509,
    IDC_HOTKEY_RECORD = 510,
    IDC_HOTKEY_PAUSE = 511,
    IDC_HOTKEY_SCREENSHOT = 512,
    IDC_SAVE = 513,
    IDC_CANCEL = 514,
    IDC_HOTKEY_REGION = 515,
    IDC_EDITOR_AFTER = 516,
    IDC_SAVE_NEW = 517,
    IDC_TRIM_AFTER = 518,
    IDC_CAMERA = 519,
    IDC_CAMERA_SIZE = 520,
    IDC_HOTKEY_CAMERA = 521,
    IDC_SHOW_CLICKS = 522,
    IDC_SHOW_KEYS = 523,
    IDC_SIGN_IN_START = 524,
};

constexpr DWORD kWindowStyle = WS_CAPTION | WS_SYSMENU;
constexpr DWORD kWindowExStyle = WS_EX_CONTROLPARENT;

std::vector<MicrophoneEntry> MicrophoneChoices;
// Whether the window opened with the sign-in start on: only a change is written.
bool SignInStartShown = false;
std::vector<CameraEntry> CameraChoices;
constexpr camera::BubbleSize kCameraSizes[] = {camera::BubbleSize::Small, camera::BubbleSize::Medium,
                                               camera::BubbleSize::Large};

std::vector<std::wstring> MicrophoneIds() {
    std::vector<std::wstring> ids;
    for (const MicrophoneEntry& entry : MicrophoneChoices) ids.push_back(entry.id);
    return ids;
}

std::vector<std::wstring> CameraLinks() {
    std::vector<std::wstring> links;
    for (const CameraEntry& entry : CameraChoices) links.push_back(entry.link);
    return links;
}

// Alt+letter typed into a shortcut control is the shortcut being chosen, yet
// the dialog handling of the message loop would take the character it makes
// for a mnemonic and tick a box or move the focus. While the window is open,
// such characters aimed at a shortcut control are turned into WM_NULL before
// anything sees them; the control reads its keys from WM_SYSKEYDOWN.
HHOOK ShortcutKeyHook = nullptr;

bool IsShortcutControl(HWND control) {
    if (control == nullptr || SettingsWindow == nullptr || GetParent(control) != SettingsWindow) return false;
    const int id = GetDlgCtrlID(control);
    return id == IDC_HOTKEY_RECORD || id == IDC_HOTKEY_PAUSE || id == IDC_HOTKEY_SCREENSHOT || id == IDC_HOTKEY_REGION ||
           id == IDC_HOTKEY_CAMERA;
}

LRESULT CALLBACK KeepShortcutKeys(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION) {
        MSG& message = *reinterpret_cast<MSG*>(lParam);
        if ((message.message == WM_SYSCHAR || message.message == WM_SYSDEADCHAR) && IsShortcutControl(message.hwnd))
            message.message = WM_NULL;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

HWND AddControl(HWND parent, DWORD exStyle, const wchar_t* kind, const wchar_t* text, DWORD style, int x, int y,
                int width, int height, WORD id) {
    HWND control = CreateWindowExW(exStyle, kind, text, WS_CHILD | WS_VISIBLE | style, x, y, width, height, parent,
                                   reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), Instance, nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(UiFont), TRUE);
    return control;
}

void AddLabel(HWND parent, const wchar_t* text, int y) {
    AddControl(parent, 0, L"STATIC", text, 0, 16, y + 4, 200, 22, 0xFFFF);
}

void AddList(HWND parent, WORD id, const std::vector<std::wstring>& items, int selected, int y) {
    HWND list = AddControl(parent, 0, L"COMBOBOX", L"", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, 220, y, 270, 200, id);
    for (const std::wstring& item : items) SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
    SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
}

// A list of devices: row 0 is the one Windows picks, then each by name, the chosen one selected.
template <typename Entry>
void AddDeviceList(HWND window, WORD id, const wchar_t* first, const std::vector<Entry>& entries,
                   const std::vector<std::wstring>& ids, const std::wstring& chosen, int y) {
    std::vector<std::wstring> names = {first};
    for (const Entry& entry : entries) names.push_back(entry.name);
    AddList(window, id, names, MicrophoneRow(ids, chosen), y);
}

// Across the window, or in its left or right half when two share a row.
enum class Column { Whole, Left, Right };

void AddCheck(HWND parent, WORD id, const wchar_t* text, bool checked, int y, Column column = Column::Whole) {
    const int x = column == Column::Right ? 246 : 16;
    const int width = column == Column::Whole ? 470 : column == Column::Left ? 226 : 244;
    HWND box = AddControl(parent, 0, L"BUTTON", text, WS_TABSTOP | BS_AUTOCHECKBOX, x, y, width, 24, id);
    SendMessageW(box, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void AddShortcut(HWND parent, WORD id, const wchar_t* label, int32_t modifiers, int32_t key, int y) {
    AddLabel(parent, label, y);
    HWND control = AddControl(parent, 0, HOTKEY_CLASSW, L"", WS_TABSTOP | WS_BORDER, 220, y, 270, 26, id);
    SendMessageW(control, HKM_SETHOTKEY, HotkeyControlValue(modifiers, key), 0);
}

int Selected(HWND window, WORD id) {
    return static_cast<int>(SendDlgItemMessageW(window, id, CB_GETCURSEL, 0, 0));
}

bool Checked(HWND window, WORD id) { return SendDlgItemMessageW(window, id, BM_GETCHECK, 0, 0) == BST_CHECKED; }

void Warn(HWND window, const wchar_t* text) { MessageBoxW(window, text, L"NIRA Ostrel", MB_ICONWARNING); }

void Browse(HWND window) {
    IFileOpenDialog* dialog = nullptr;
    if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&dialog)))) return;
    FILEOPENDIALOGOPTIONS options = 0;
    if (SUCCEEDED(dialog->GetOptions(&options))) dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM);
    dialog->SetTitle(L"Where Ostrel saves captures");
    if (SUCCEEDED(dialog->Show(window))) {
        IShellItem* result = nullptr;
        if (SUCCEEDED(dialog->GetResult(&result))) {
            PWSTR path = nullptr;
            if (SUCCEEDED(result->GetDisplayName(SIGDN_FILESYSPATH, &path))) {
                SetDlgItemTextW(window, IDC_FOLDER, path);
                CoTaskMemFree(path);
            }
            result->Release();
        }
    }
    dialog->Release();
}

void SaveFromSettingsWindow(HWND window) {
    Settings working = CurrentSettings;
    working.resolution = ResolutionForRow(Selected(window, IDC_RESOLUTION), working.resolution);
    working.fps = FpsForRow(Selected(window, IDC_FPS), working.fps);
    working.countdown = SecondsForRow(Selected(window, IDC_COUNTDOWN), working.countdown);
    working.screenshot_delay = SecondsForRow(Selected(window, IDC_SCREENSHOT_DELAY), working.screenshot_delay);
    working.system_audio = Checked(window, IDC_SYSTEM_AUDIO);
    working.microphone = Checked(window, IDC_MICROPHONE);
    working.cursor = Checked(window, IDC_CURSOR);
    working.editor_after_screenshot = Checked(window, IDC_EDITOR_AFTER);
    working.trim_after_recording = Checked(window, IDC_TRIM_AFTER);
    working.save_new_to_library = Checked(window, IDC_SAVE_NEW);
    working.show_clicks = Checked(window, IDC_SHOW_CLICKS);
    working.show_keys = Checked(window, IDC_SHOW_KEYS);
    working.microphone_id = MicrophoneIdForRow(MicrophoneIds(), Selected(window, IDC_MICROPHONE_ID));
    // The cameras' list keeps the microphones' rule: row 0 is the first one found.
    working.camera = MicrophoneIdForRow(CameraLinks(), Selected(window, IDC_CAMERA));
    const int sizeRow = Selected(window, IDC_CAMERA_SIZE);
    if (sizeRow >= 0 && sizeRow < static_cast<int>(std::size(kCameraSizes)))
        working.camera_size = std::wstring(camera::BubbleSizeName(kCameraSizes[sizeRow]));

    wchar_t folder[260] = {};
    GetDlgItemTextW(window, IDC_FOLDER, folder, 260);
    working.folder = TidyFolderPath(folder);
    if (working.folder.empty() || !EnsureFolder(working.folder)) {
        Warn(window, L"That folder can't be used for captures. Choose another.");
        return;
    }

    const struct {
        WORD id;
        int32_t* modifiers;
        int32_t* key;
    } shortcuts[] = {
        {IDC_HOTKEY_RECORD, &working.hotkey_record_mod, &working.hotkey_record_key},
        {IDC_HOTKEY_PAUSE, &working.hotkey_pause_mod, &working.hotkey_pause_key},
        {IDC_HOTKEY_SCREENSHOT, &working.hotkey_screenshot_mod, &working.hotkey_screenshot_key},
        {IDC_HOTKEY_REGION, &working.hotkey_region_mod, &working.hotkey_region_key},
        {IDC_HOTKEY_CAMERA, &working.hotkey_camera_mod, &working.hotkey_camera_key},
    };
    for (const auto& shortcut : shortcuts) {
        const auto value = static_cast<uint16_t>(SendDlgItemMessageW(window, shortcut.id, HKM_GETHOTKEY, 0, 0));
        ApplyHotkeyControl(value, *shortcut.modifiers, *shortcut.key);
    }
    if (!ShortcutsHaveModifiers(working)) {
        Warn(window, L"Each keyboard shortcut needs Ctrl, Alt or Shift, so it doesn't clash with typing.");
        return;
    }

    const bool startWanted = Checked(window, IDC_SIGN_IN_START);
    if (startWanted != SignInStartShown &&
        !(startWanted ? WriteSignInStart(RunningProgramPath()) : RemoveSignInStart())) {
        Warn(window, L"Windows did not let Ostrel change whether it starts when you sign in. Try again, or change it "
                     L"in Windows Settings > Apps > Startup.");
        return;
    }

    const bool cameraChanged = working.camera != CurrentSettings.camera || working.camera_size != CurrentSettings.camera_size;
    CurrentSettings = working;
    SaveSettings(CurrentSettings);
    // A bubble on the screen shows the camera and the size chosen now.
    if (cameraChanged && CameraShowing()) {
        HideCamera();
        ToggleCamera();
    }
    if (!CurrentSettings.save_new_to_library) ForgetWaitingSaves();
    RegisterShortcuts(true);
    DestroyWindow(window);
}

void CreateControls(HWND window) {
    const Settings& s = CurrentSettings;
    int y = 16;
    AddLabel(window, L"&Resolution", y);
    AddList(window, IDC_RESOLUTION, {L"720p (light, recommended)", L"1080p", L"The monitor's own size"},
            ResolutionRow(s.resolution), y);
    y += 32;
    AddLabel(window, L"&Frame rate", y);
    AddList(window, IDC_FPS, {L"15 frames a second", L"30 frames a second", L"60 frames a second"}, FpsRow(s.fps), y);
    y += 32;
    const std::vector<std::wstring> seconds = {L"None", L"3 seconds", L"5 seconds", L"10 seconds"};
    AddLabel(window, L"&Countdown before recording", y);
    AddList(window, IDC_COUNTDOWN, seconds, SecondsRow(s.countdown), y);
    y += 32;
    AddLabel(window, L"Screenshot &delay", y);
    AddList(window, IDC_SCREENSHOT_DELAY, seconds, SecondsRow(s.screenshot_delay), y);
    y += 32;
    AddCheck(window, IDC_SYSTEM_AUDIO, L"Record computer &sound", s.system_audio, y, Column::Left);
    AddCheck(window, IDC_MICROPHONE, L"Record the &microphone", s.microphone, y, Column::Right);
    y += 28;
    AddLabel(window, L"Micro&phone to use", y);
    AddDeviceList(window, IDC_MICROPHONE_ID, L"Default microphone", MicrophoneChoices, MicrophoneIds(), s.microphone_id,
                  y);
    y += 32;
    AddLabel(window, L"Camera to &use", y);
    AddDeviceList(window, IDC_CAMERA, L"The first camera found", CameraChoices, CameraLinks(), s.camera, y);
    y += 32;
    AddLabel(window, L"Camera bubble si&ze", y);
    const camera::BubbleSize size = camera::BubbleSizeNamed(s.camera_size);
    AddList(window, IDC_CAMERA_SIZE, {L"Small", L"Medium", L"Large"},
            static_cast<int>(std::find(std::begin(kCameraSizes), std::end(kCameraSizes), size) - std::begin(kCameraSizes)),
            y);
    y += 32;
    AddCheck(window, IDC_CURSOR, L"Show the mouse p&ointer", s.cursor, y);
    y += 28;
    AddCheck(window, IDC_SHOW_CLICKS, L"Show clic&ks in recordings", s.show_clicks, y, Column::Left);
    AddCheck(window, IDC_SHOW_KEYS, L"Show ke&y combinations in recordings", s.show_keys, y, Column::Right);
    y += 28;
    AddCheck(window, IDC_EDITOR_AFTER, L"Open the edi&tor after each screenshot", s.editor_after_screenshot, y);
    y += 28;
    AddCheck(window, IDC_TRIM_AFTER, L"Open the trim &window after each recording", s.trim_after_recording, y);
    y += 28;
    AddCheck(window, IDC_SAVE_NEW, L"Save every new capture to the &library (when signed in)", s.save_new_to_library, y);
    y += 28;
    // The registry holds this choice, not the settings file.
    const SignInStart start = SignInStartFor(RunningProgramPath());
    SignInStartShown = start == SignInStart::Ours || start == SignInStart::Stale;
    AddCheck(window, IDC_SIGN_IN_START, L"Start NIRA Ostrel when I sign in to Windows", SignInStartShown, y);
    y += 28;
    AddLabel(window, L"Save captures &in", y);
    AddControl(window, WS_EX_CLIENTEDGE, L"EDIT", s.folder.c_str(), WS_TABSTOP | ES_AUTOHSCROLL, 220, y, 190, 26,
               IDC_FOLDER);
    AddControl(window, 0, L"BUTTON", L"&Browse\u2026", WS_TABSTOP | BS_PUSHBUTTON, 414, y, 76, 26, IDC_BROWSE);
    y += 36;
    AddShortcut(window, IDC_HOTKEY_RECORD, L"Shortcut: r&ecord or stop", s.hotkey_record_mod, s.hotkey_record_key, y);
    y += 32;
    AddShortcut(window, IDC_HOTKEY_PAUSE, L"Shortcut: p&ause or resume", s.hotkey_pause_mod, s.hotkey_pause_key, y);
    y += 32;
    AddShortcut(window, IDC_HOTKEY_SCREENSHOT, L"Shortcut: scree&nshot", s.hotkey_screenshot_mod,
                s.hotkey_screenshot_key, y);
    y += 32;
    AddShortcut(window, IDC_HOTKEY_REGION, L"Shortcut: re&gion screenshot", s.hotkey_region_mod, s.hotkey_region_key, y);
    y += 32;
    AddShortcut(window, IDC_HOTKEY_CAMERA, L"Shortcut: show or &hide camera", s.hotkey_camera_mod, s.hotkey_camera_key,
                y);
    y += 32;
    AddControl(window, 0, L"BUTTON", L"Save", WS_TABSTOP | BS_DEFPUSHBUTTON, 300, y + 8, 90, 30, IDC_SAVE);
    AddControl(window, 0, L"BUTTON", L"Cancel", WS_TABSTOP | BS_PUSHBUTTON, 400, y + 8, 90, 30, IDC_CANCEL);

    RECT frame{0, 0, 506, y + 54};
    AdjustWindowRectEx(&frame, kWindowStyle, FALSE, kWindowExStyle);
    SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
}

}  // namespace

void OpenSettingsWindow() {
    if (SettingsWindow != nullptr) {
        SetForegroundWindow(SettingsWindow);
        return;
    }
    MicrophoneChoices = ListMicrophones();
    CameraChoices = ListCameras();
    SettingsWindow = CreateWindowExW(kWindowExStyle, kSettingsClass, L"NIRA Ostrel settings", kWindowStyle,
                                     CW_USEDEFAULT, CW_USEDEFAULT, 520, 560, nullptr, nullptr, Instance, nullptr);
    if (SettingsWindow == nullptr) return;
    CreateControls(SettingsWindow);
    ShortcutKeyHook = SetWindowsHookExW(WH_GETMESSAGE, KeepShortcutKeys, nullptr, GetCurrentThreadId());
    ShowWindow(SettingsWindow, SW_SHOW);
    SetForegroundWindow(SettingsWindow);
    // A window made of plain controls gets no first focus of its own, and
    // without a focused control the keyboard reaches none of them.
    SetFocus(GetDlgItem(SettingsWindow, IDC_RESOLUTION));
}

LRESULT CALLBACK SettingsWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_BROWSE:
                    Browse(window);
                    return 0;
                // Enter and Escape arrive from the dialog handling as IDOK and
                // IDCANCEL. Enter on a focused Browse or Cancel presses that
                // button, as in a dialog, where the focused button is the default.
                case IDOK: {
                    const HWND focus = GetFocus();
                    if (focus != nullptr && GetParent(focus) == window &&
                        (GetDlgCtrlID(focus) == IDC_BROWSE || GetDlgCtrlID(focus) == IDC_CANCEL))
                        return SendMessageW(window, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(focus), BN_CLICKED),
                                            reinterpret_cast<LPARAM>(focus));
                    SaveFromSettingsWindow(window);
                    return 0;
                }
                case IDC_SAVE:
                    SaveFromSettingsWindow(window);
                    return 0;
                case IDC_CANCEL:
                case IDCANCEL:
                    DestroyWindow(window);
                    return 0;
                default:
                    break;
            }
            break;
        case WM_CLOSE:
            DestroyWindow(window);
            return 0;
        case WM_DESTROY:
            if (SettingsWindow == window) {
                SettingsWindow = nullptr;
                if (ShortcutKeyHook != nullptr) UnhookWindowsHookEx(ShortcutKeyHook);
                ShortcutKeyHook = nullptr;
            }
            return 0;
        case WM_CTLCOLORSTATIC:
            if (!IsHighContrast()) {
                SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_WINDOW));
                return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
            }
            break;
        default:
            break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
