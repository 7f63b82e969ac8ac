#include "app/hotkeys.h"

#include <windows.h>

#include "app/hotkey_text_core.h"
#include "app/shell.h"
#include "app/shell_core.h"
#include "storage/settings.h"

std::wstring HotkeyText(int32_t modifiers, uint32_t key) {
    const UINT scanCode = MapVirtualKeyW(key, MAPVK_VK_TO_VSC);
    wchar_t name[64] = {};
    const int length = GetKeyNameTextW(static_cast<LONG>(scanCode << 16), name, 64);
    return ShortcutText(modifiers, key, std::wstring_view(name, length > 0 ? static_cast<size_t>(length) : 0));
}

void RegisterShortcuts(bool report) {
    struct Row {
        int id;
        int32_t modifiers;
        int32_t key;
        const wchar_t* label;
    };
    const Row rows[] = {
        {HOTKEY_RECORD, CurrentSettings.hotkey_record_mod, CurrentSettings.hotkey_record_key, L" (record or stop)"},
        {HOTKEY_PAUSE, CurrentSettings.hotkey_pause_mod, CurrentSettings.hotkey_pause_key, L" (pause or resume)"},
        {HOTKEY_SCREENSHOT, CurrentSettings.hotkey_screenshot_mod, CurrentSettings.hotkey_screenshot_key,
         L" (screenshot)"},
        {HOTKEY_REGION, CurrentSettings.hotkey_region_mod, CurrentSettings.hotkey_region_key, L" (region screenshot)"},
        {HOTKEY_CAMERA, CurrentSettings.hotkey_camera_mod, CurrentSettings.hotkey_camera_key, L" (show or hide the camera)"},
    };
    for (const Row& row : rows) UnregisterHotKey(MainWindow, row.id);
    std::wstring refused;
    for (const Row& row : rows) {
        if (RegisterHotKey(MainWindow, row.id, static_cast<UINT>(row.modifiers) | MOD_NOREPEAT,
                           static_cast<UINT>(row.key)))
            continue;
        refused += L"\n  " + HotkeyText(row.modifiers, static_cast<uint32_t>(row.key)) + row.label;
    }
    if (!refused.empty() && report)
        MessageBoxW(MainWindow, ShortcutConflictMessage(refused).c_str(), L"NIRA Ostrel", MB_ICONWARNING);
}
