#pragma once
// The settings window's controls and the settings fields, both ways: which
// row a value shows as, which value a row saves, and the shortcut controls'
// modifier flags.
#include <cstdint>
#include <string>
#include <vector>

#include "storage/settings_core.h"

// Rows of the drop-down lists for stored values.
int ResolutionRow(int32_t resolution);
int FpsRow(int32_t fps);
int SecondsRow(int32_t seconds);  // countdown and screenshot delay
// Values for selected rows; a row outside the list keeps `current`.
int32_t ResolutionForRow(int row, int32_t current);
int32_t FpsForRow(int row, int32_t current);
int32_t SecondsForRow(int row, int32_t current);

// Row 0 is "Default microphone"; row n is entry n-1. The last entry with exactly that id wins.
int MicrophoneRow(const std::vector<std::wstring>& ids, const std::wstring& id);
std::wstring MicrophoneIdForRow(const std::vector<std::wstring>& ids, int row);

// The hot-key control's modifier flags (HOTKEYF_*) for RegisterHotKey modifier bits, and back.
uint8_t HotkeyControlFlags(int32_t modifiers);
int32_t ModifiersFromHotkeyFlags(uint8_t flags);
// The value HKM_SETHOTKEY takes: key in the low byte, flags in the high byte.
uint16_t HotkeyControlValue(int32_t modifiers, int32_t key);
// Applies what a shortcut control holds; an empty control keeps the shortcut.
void ApplyHotkeyControl(uint16_t value, int32_t& modifiers, int32_t& key);
// Each shortcut needs Ctrl, Alt or Shift.
bool ShortcutsHaveModifiers(const Settings& settings);
