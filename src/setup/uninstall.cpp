// Removing what the installer put in place. The installed uninstaller cannot
// delete itself, so it hands the work to a copy of itself in the temporary
// folder and exits; the copy waits for it, then removes everything.
#include <windows.h>
#include <shlobj.h>

#include "common/unique_handle.h"
#include "setup/setup.h"
#include "storage/sign_in_start.h"

namespace {

constexpr DWORD kParentWaitMs = 30000;
constexpr int kDeleteAttempts = 10;
constexpr DWORD kProgramDeletePauseMs = 500;
constexpr DWORD kUninstallerDeletePauseMs = 300;

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// True once the file is gone.
bool DeleteWithAttempts(const std::wstring& path, DWORD pauseMs) {
    for (int attempt = 0; attempt < kDeleteAttempts; ++attempt) {
        if (!Exists(path) || DeleteFileW(path.c_str())) return true;
        if (attempt + 1 < kDeleteAttempts) Sleep(pauseMs);
    }
    return !Exists(path);
}

std::wstring TemporaryFolder() {
    wchar_t folder[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    return length == 0 || length > MAX_PATH ? std::wstring() : std::wstring(folder, length);
}

int HandOff(const std::wstring& self, const std::wstring& folder, const SetupOptions& options) {
    const std::wstring temporary = TemporaryFolder();
    if (temporary.empty()) return SETUP_NO_TEMPORARY_COPY;
    const DWORD processId = GetCurrentProcessId();
    const std::wstring copy = TemporaryCopyPath(temporary, processId);
    if (!CopyFileW(self.c_str(), copy.c_str(), FALSE)) return SETUP_NO_TEMPORARY_COPY;
    std::wstring commandLine = HandOffCommandLine(copy, folder, options.reg_key, processId, options.silent);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    // The copy works from the temporary folder: a working folder inside the
    // install folder would keep that folder from being removed.
    if (!CreateProcessW(copy.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, temporary.c_str(), &startup,
                        &started)) {
        return SETUP_NO_TEMPORARY_COPY;
    }
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return SETUP_DONE;
}

void WaitForParent(uint32_t processId) {
    if (processId == 0) return;
    UniqueHandle parent(OpenProcess(SYNCHRONIZE, FALSE, processId));
    if (parent) WaitForSingleObject(parent.Get(), kParentWaitMs);
}

}  // namespace

int Uninstall(const SetupOptions& options) {
    std::wstring folder = FullFolderPath(options.dir);
    std::wstring registeredFolder;
    std::wstring shortcut;
    const std::wstring keyPath = UninstallKeyPath(options.reg_key);
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, keyPath.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
        registeredFolder = FullFolderPath(ReadRegString(key, L"InstallLocation"));
        if (folder.empty()) folder = registeredFolder;
        shortcut = ReadRegString(key, L"OstrelShortcut");
        RegCloseKey(key);
    }
    if (folder.empty()) {
        if (!options.silent) SetupMessage(L"NIRA Ostrel is not installed for this Windows user.", MB_OK | MB_ICONWARNING);
        return SETUP_NOT_INSTALLED;
    }

    const InstallLayout layout = MakeInstallLayout(folder, {});
    const std::wstring self = OwnPath();
    if (SamePath(self, layout.uninstallerPath)) return HandOff(self, folder, options);

    WaitForParent(options.parent_pid);
    if (!options.silent && SetupMessage(L"Remove NIRA Ostrel from this computer?\n\nYour captures and settings are kept.",
                                        MB_OKCANCEL | MB_ICONQUESTION) != IDOK) {
        return SETUP_CANCELLED;
    }
    if (!CloseRunningApp(options.reg_key)) {
        if (!options.silent) {
            SetupMessage(L"Ostrel is still running. Close it from its tray icon, then try again.", MB_OK | MB_ICONWARNING);
        }
        return SETUP_STILL_RUNNING;
    }

    // Nothing else goes before the program file: while it stays, the
    // installation stays complete and registered.
    if (!DeleteWithAttempts(layout.programPath, kProgramDeletePauseMs)) {
        if (!options.silent) {
            SetupMessage(L"Ostrel could not be removed because it is still in use. Restart the computer and try again.",
                         MB_OK | MB_ICONERROR);
        }
        return SETUP_IN_USE;
    }
    DeleteWithAttempts(layout.uninstallerPath, kUninstallerDeletePauseMs);
    // The sign-in start goes with the program it starts; one for another copy stays.
    if (SamePath(SignInStartProgram(ReadSignInStart().value_or(L"")), layout.programPath)) RemoveSignInStart();
    RemoveDirectoryW(folder.c_str());

    // The registration and its shortcut belong to the folder they name: removing
    // a copy in another folder leaves a registered installation alone.
    if (registeredFolder.empty() || SamePath(registeredFolder, folder)) {
        if (!shortcut.empty()) DeleteFileW(shortcut.c_str());
        RegDeleteTreeW(HKEY_CURRENT_USER, keyPath.c_str());
    }
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);

    if (!options.silent) {
        SetupMessage(L"NIRA Ostrel has been removed. Your captures and settings are still on this computer.",
                     MB_OK | MB_ICONINFORMATION);
    }
    return SETUP_DONE;
}
