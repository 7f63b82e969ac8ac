#include "app/hotkey_text_core.h"

#include "storage/settings_core.h"

std::wstring ShortcutText(int32_t modifiers, uint32_t key, std::wstring_view keyName) {
    std::wstring text;
    if (modifiers & kModControl) text += L"Ctrl+";
    if (modifiers & kModAlt) text += L"Alt+";
    if (modifiers & kModShift) text += L"Shift+";
    if (modifiers & kModWin) text += L"Win+";
    if (!keyName.empty())
        text += keyName;
    else
        text += DecimalText(key);
    return text;
}
