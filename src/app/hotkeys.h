#pragma once
#include <cstdint>
#include <string>

// "Ctrl+Alt+Shift+Win+" as set, then the key's name in the user's keyboard
// layout (or its decimal code when the layout names none).
std::wstring HotkeyText(int32_t modifiers, uint32_t key);
// Registers the shortcuts of CurrentSettings on MainWindow, dropping
// earlier registrations first; with `report`, one box lists every refused one.
void RegisterShortcuts(bool report);
