#include "app/toolbar.h"

#include "app/shell.h"

// The toolbar window is not built yet: ToolbarWindow stays null and every
// caller checks for that.
void CreateToolbar() {}

void UpdateToolbar() {
    if (ToolbarWindow != nullptr) InvalidateRect(ToolbarWindow, nullptr, TRUE);
}
