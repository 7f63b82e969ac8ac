#pragma once
// The text of a keyboard shortcut: modifiers in the fixed order
// Ctrl, Alt, Shift, Win, then the key's name from the keyboard layout, or the
// key code in decimal when the layout has no name for it.
#include <cstdint>
#include <string>
#include <string_view>

constexpr int32_t kModAlt = 1;
constexpr int32_t kModControl = 2;
constexpr int32_t kModShift = 4;
constexpr int32_t kModWin = 8;

std::wstring ShortcutText(int32_t modifiers, uint32_t key, std::wstring_view keyName);
