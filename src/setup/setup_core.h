#pragma once
// OstrelSetup's decisions, free of platform calls: its command line, the
// installed layout, the uninstall registration's values and the command line
// that hands an uninstall over to a temporary copy.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "storage/storage_core.h"  // JoinPath

inline constexpr wchar_t kSetupDisplayName[] = L"NIRA Ostrel";
inline constexpr wchar_t kSetupVersion[] = L"0.1.0";
inline constexpr wchar_t kSetupPublisher[] = L"Vantil Orche LLC";
inline constexpr wchar_t kAppWindowClass[] = L"NIRAOstrelWindowsMain";
inline constexpr wchar_t kProgramFileName[] = L"OstrelWindows.exe";
inline constexpr wchar_t kUninstallerFileName[] = L"Uninstall Ostrel.exe";
inline constexpr wchar_t kDefaultRegKey[] = L"NIRAOstrel";
inline constexpr wchar_t kUninstallParentKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
inline constexpr wchar_t kShortcutDescription[] = L"Record your screen and take screenshots";

struct SetupOptions {
    bool silent = false;
    bool uninstall = false;
    bool startAtSignIn = true;  // "/nostartup" leaves the program out of the user's sign-in
    uint32_t parent_pid = 0;
    std::wstring dir;
    std::wstring start_menu_dir;
    std::wstring reg_key = kDefaultRegKey;
};

// The command line split by the shell's rules (CommandLineToArgvW), with one
// difference for folders typed as "C:\My Apps\": backslashes followed by a
// quote that the shell would keep as a character, when the quote ends a value
// (the line ends or a space or tab follows), stay backslashes and the quote
// closes the value. The shell would put the quote and everything after it,
// switches included, into the value.
std::vector<std::wstring> SplitSetupCommandLine(std::wstring_view line);

// Argument 0 is the program path. Switch names match without regard to case;
// a switch that takes a value is ignored when nothing follows it; anything
// else is ignored. A registration key name other than letters and digits
// falls back to the default.
SetupOptions ParseSetupOptions(const std::vector<std::wstring>& args);

// Only ASCII letters and digits: the name goes unquoted onto a command line
// and into a registry path.
bool IsPlainKeyName(std::wstring_view name);

// A folder without trailing separators, except a drive root such as "C:\",
// which keeps its one.
std::wstring TrimTrailingSeparators(std::wstring_view folder);

// The folder part of a path: everything before the last backslash, or the
// whole path when there is none.
std::wstring FolderOf(std::wstring_view path);

struct InstallLayout {
    std::wstring folder;           // D
    std::wstring programPath;      // D\OstrelWindows.exe
    std::wstring uninstallerPath;  // D\Uninstall Ostrel.exe
    std::wstring shortcutPath;     // M\NIRA Ostrel.lnk; empty when M is unknown
};

InstallLayout MakeInstallLayout(std::wstring_view installFolder, std::wstring_view startMenuFolder);

std::wstring UninstallKeyPath(std::wstring_view reg_key);

// The quoted uninstaller path and " /uninstall", with " /regkey KEY" for
// any key but the default.
std::wstring UninstallCommand(std::wstring_view uninstallerPath, std::wstring_view reg_key);

// Kilobytes as the list of installed programs shows them: bytes / 1024 + 1.
uint32_t EstimatedSizeKb(uint64_t programBytes);

struct RegistryValue {
    enum class Kind { String, Dword };
    std::wstring name;
    Kind kind = Kind::String;
    std::wstring text;  // String
    uint32_t number = 0;  // Dword
};

// Every value of the registration, in the order they are written. EstimatedSize
// is left out when the program's size is unknown.
std::vector<RegistryValue> RegistrationValues(const InstallLayout& layout, std::wstring_view reg_key,
                                              std::wstring_view serviceBaseUrl, std::optional<uint64_t> programBytes);

// One argument quoted so that the system's command-line splitting gives it
// back unchanged: backslashes before the closing quote are doubled.
std::wstring QuoteArgument(std::wstring_view argument);

// Where the installed uninstaller copies itself: the temporary folder (which
// ends in a backslash) + "OstrelUninstall-" + process id + ".exe".
std::wstring TemporaryCopyPath(std::wstring_view tempFolder, uint32_t processId);

// The command line that starts the temporary copy.
std::wstring HandOffCommandLine(std::wstring_view copyPath, std::wstring_view installFolder, std::wstring_view reg_key,
                                uint32_t processId, bool silent);
