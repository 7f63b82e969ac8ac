#pragma once
// settings.ini in the data folder, read and written with the platform's
// private-profile functions, and the process-wide record.
#include <cstdint>
#include <string>

#include "storage/settings_core.h"

// Written only on the user-interface thread; workers get copies.
extern Settings CurrentSettings;

std::wstring SettingsFilePath();
int32_t ReadSettingInt(const std::wstring& key, int32_t fallback);
std::wstring ReadSettingText(const std::wstring& key, const std::wstring& fallback);
void WriteSettingInt(const std::wstring& key, int32_t value);
void WriteSettingText(const std::wstring& key, const std::wstring& text);
Settings LoadSettings();
void SaveSettings(const Settings& settings);
