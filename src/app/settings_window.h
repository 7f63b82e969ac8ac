#pragma once

// Opens the settings window, or brings the open one to the front.
void OpenSettingsWindow();
