#include "app/settings_window.h"

#include "app/shell.h"

// The settings window is not built yet; the command brings an open one forward.
void OpenSettingsWindow() {
    if (SettingsWindow != nullptr) SetForegroundWindow(SettingsWindow);
}
