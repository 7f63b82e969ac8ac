// Entry point of OstrelSetup, the installer and (with /uninstall) the
// uninstaller of OstrelWindows. It has no window; it speaks through message
// boxes, or only through its exit code when silent.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "setup/setup.h"

namespace {

std::vector<std::wstring> CommandLineArguments() {
    std::vector<std::wstring> args;
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (argv == nullptr) return args;
    for (int i = 0; i < count; ++i) args.emplace_back(argv[i]);
    LocalFree(argv);
    return args;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // The shell link is an apartment-threaded object.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const SetupOptions options = ParseSetupOptions(CommandLineArguments());
    const int exitCode = options.uninstall ? Uninstall(options) : Install(options);
    if (SUCCEEDED(com)) CoUninitialize();
    return exitCode;
}
