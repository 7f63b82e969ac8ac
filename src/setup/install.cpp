// Installing OstrelWindows for the current user: the program from our
// resources, ourselves beside it as the uninstaller, the Start-menu shortcut
// and the uninstall registration.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include "cloud/cloud_core.h"
#include "setup/setup.h"
#include "storage/sign_in_start.h"

namespace {

constexpr wchar_t kStillRunningMessage[] =
    L"Ostrel is still running. Close it from its tray icon, then run the installer again.";
constexpr int kWriteAttempts = 20;
constexpr DWORD kWritePauseMs = 500;

// The per-user programs folder + "\NIRA Ostrel". Some systems (Wine among
// them) do not resolve the per-user programs folder; its usual place below
// the local application data is taken then.
std::wstring DefaultInstallFolder() {
    std::wstring programs = KnownFolder(FOLDERID_UserProgramFiles);
    if (programs.empty()) {
        const std::wstring local = KnownFolder(FOLDERID_LocalAppData);
        if (local.empty()) return {};
        programs = JoinPath(local, L"Programs");
    }
    return JoinPath(programs, kSetupDisplayName);
}

void Register(const InstallLayout& layout, const std::wstring& reg_key) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, UninstallKeyPath(reg_key).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return;
    }
    std::optional<uint64_t> programBytes;
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    if (GetFileAttributesExW(layout.programPath.c_str(), GetFileExInfoStandard, &attributes)) {
        programBytes = (uint64_t{attributes.nFileSizeHigh} << 32) | attributes.nFileSizeLow;
    }
    WriteRegValues(key, RegistrationValues(layout, reg_key, kServiceOrigin, programBytes));
    RegCloseKey(key);
}

}  // namespace

int Install(const SetupOptions& options) {
    const std::wstring folder = options.dir.empty() ? DefaultInstallFolder() : FullFolderPath(options.dir);
    const std::wstring startMenu =
        options.start_menu_dir.empty() ? KnownFolder(FOLDERID_Programs) : FullFolderPath(options.start_menu_dir);
    const InstallLayout layout = MakeInstallLayout(folder, startMenu);

    if (!options.silent &&
        SetupMessage(std::wstring(L"Install NIRA Ostrel for Windows ") + kSetupVersion +
                         L" for you on this computer?\n\nIt goes in " + folder +
                         L" and is added to the Start menu. You can remove it any time in Settings > Apps; your captures stay.",
                     MB_OKCANCEL | MB_ICONQUESTION) != IDOK) {
        return SETUP_CANCELLED;
    }

    if (!CloseRunningApp(options.reg_key)) {
        if (!options.silent) SetupMessage(kStillRunningMessage, MB_OK | MB_ICONWARNING);
        return SETUP_STILL_RUNNING;
    }

    if (!folder.empty()) SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    // A program that is still starting holds its file before its main window
    // exists: try again for a few seconds, closing whatever window has come.
    bool written = !folder.empty() && ExtractApp(layout.programPath);
    for (int attempt = 0; !written && !folder.empty() && attempt < kWriteAttempts; ++attempt) {
        Sleep(kWritePauseMs);
        if (!CloseRunningApp(options.reg_key)) {
            if (!options.silent) SetupMessage(kStillRunningMessage, MB_OK | MB_ICONWARNING);
            return SETUP_STILL_RUNNING;
        }
        written = ExtractApp(layout.programPath);
    }
    if (!written) {
        if (!options.silent) {
            SetupMessage(L"Ostrel could not be written to " + folder + L". Check there is free space and try again.",
                         MB_OK | MB_ICONERROR);
        }
        return SETUP_NOT_WRITTEN;
    }

    // Run as the installed uninstaller, we are already in place.
    const std::wstring self = OwnPath();
    if (!SamePath(self, layout.uninstallerPath) &&
        (self.empty() || !CopyFileW(self.c_str(), layout.uninstallerPath.c_str(), FALSE))) {
        if (!options.silent) SetupMessage(L"The uninstaller could not be written to " + folder + L".", MB_OK | MB_ICONERROR);
        return SETUP_NOT_WRITTEN;
    }

    if (!startMenu.empty()) SHCreateDirectoryExW(nullptr, startMenu.c_str(), nullptr);
    if ((layout.shortcutPath.empty() || !MakeShortcut(layout.shortcutPath, layout.programPath)) && !options.silent) {
        SetupMessage(L"Ostrel is installed, but the Start menu entry could not be made. You can open it from " +
                         layout.programPath + L".",
                     MB_OK | MB_ICONWARNING);
    }

    Register(layout, options.reg_key);
    if (options.startAtSignIn) WriteSignInStart(layout.programPath);
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);

    if (!options.silent && SetupMessage(L"NIRA Ostrel is installed. It runs from the tray (by the clock).\n\nOpen it now?",
                                        MB_YESNO | MB_ICONINFORMATION) == IDYES) {
        ShellExecuteW(nullptr, L"open", layout.programPath.c_str(), nullptr, folder.c_str(), SW_SHOWNORMAL);
    }
    return SETUP_DONE;
}
