// Entry point of OstrelSetup, the installer and (with /uninstall) the
// uninstaller of OstrelWindows. It has no window; it speaks through message
// boxes, or only through its exit code when silent.
#include <windows.h>
#include <objbase.h>

#include "setup/setup.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // The shell link is an apartment-threaded object.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const SetupOptions options = ParseSetupOptions(SplitSetupCommandLine(GetCommandLineW()));
    const int exitCode = options.uninstall ? Uninstall(options) : Install(options);
    if (SUCCEEDED(com)) CoUninitialize();
    return exitCode;
}
