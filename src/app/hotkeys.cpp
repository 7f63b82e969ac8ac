#include "app/hotkeys.h"

#include <windows.h>

#include "app/hotkey_text_core.h"

std::wstring HotkeyText(int32_t modifiers, uint32_t key) {
    const UINT scanCode = MapVirtualKeyW(key, MAPVK_VK_TO_VSC);
    wchar_t name[64] = {};
    const int length = GetKeyNameTextW(static_cast<LONG>(scanCode << 16), name, 64);
    return ShortcutText(modifiers, key, std::wstring_view(name, length > 0 ? static_cast<size_t>(length) : 0));
}
