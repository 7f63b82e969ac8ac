#include "setup/setup_core.h"

#include <limits>

namespace {

wchar_t AsciiLower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

// Switch names are ASCII, so folding ASCII letters is enough to compare them.
bool SameSwitch(std::wstring_view argument, std::wstring_view name) {
    if (argument.size() != name.size()) return false;
    for (size_t i = 0; i < name.size(); ++i) {
        if (AsciiLower(argument[i]) != AsciiLower(name[i])) return false;
    }
    return true;
}

// Leading decimal digits; anything that is no process id (no digits, or more
// than 32 bits) reads as 0, which means "no parent to wait for".
uint32_t ProcessIdValue(std::wstring_view text) {
    uint64_t value = 0;
    size_t i = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        value = value * 10 + static_cast<uint64_t>(text[i] - L'0');
        if (value > std::numeric_limits<uint32_t>::max()) return 0;
    }
    return static_cast<uint32_t>(value);
}

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsDriveRoot(std::wstring_view path) { return path.size() == 3 && path[1] == L':' && IsSeparator(path[2]); }

}  // namespace

bool IsPlainKeyName(std::wstring_view name) {
    if (name.empty()) return false;
    for (wchar_t c : name) {
        const bool letter = (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
        const bool digit = c >= L'0' && c <= L'9';
        if (!letter && !digit) return false;
    }
    return true;
}

std::vector<std::wstring> SplitSetupCommandLine(std::wstring_view line) {
    std::vector<std::wstring> args;
    size_t i = 0;
    // The program's path: quoted or up to the first blank, without escapes.
    if (i < line.size() && line[i] == L'"') {
        const size_t close = line.find(L'"', 1);
        args.emplace_back(line.substr(1, close == std::wstring_view::npos ? std::wstring_view::npos : close - 1));
        i = close == std::wstring_view::npos ? line.size() : close + 1;
    } else {
        while (i < line.size() && !IsBlank(line[i])) ++i;
        args.emplace_back(line.substr(0, i));
    }
    while (i < line.size() && !IsBlank(line[i])) ++i;

    std::wstring current;
    bool quoted = false, started = false;
    for (; i < line.size(); ++i) {
        const wchar_t c = line[i];
        if (c == L'\\') {
            size_t run = 0;
            while (i + run < line.size() && line[i + run] == L'\\') ++run;
            const size_t quote = i + run;
            if (quote == line.size() || line[quote] != L'"') {
                current.append(run, L'\\');
            } else if (run % 2 == 1 && (quote + 1 == line.size() || IsBlank(line[quote + 1]))) {
                current.append(run / 2 + 1, L'\\');  // as typed: the quote ends the value
                quoted = false;
            } else {
                current.append(run / 2, L'\\');
                if (run % 2 == 1) current += L'"';
                else quoted = !quoted;
            }
            i = quote == line.size() || line[quote] != L'"' ? quote - 1 : quote;
            started = true;
        } else if (c == L'"') {
            quoted = !quoted;
            started = true;
        } else if (IsBlank(c) && !quoted) {
            if (started) args.push_back(std::move(current));
            current.clear();
            started = false;
        } else {
            current += c;
            started = true;
        }
    }
    if (started) args.push_back(std::move(current));
    return args;
}

SetupOptions ParseSetupOptions(const std::vector<std::wstring>& args) {
    SetupOptions options;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::wstring& arg = args[i];
        if (SameSwitch(arg, L"/S")) {
            options.silent = true;
        } else if (SameSwitch(arg, L"/uninstall")) {
            options.uninstall = true;
        } else if (SameSwitch(arg, L"/nostartup")) {
            options.startAtSignIn = false;
        } else if (i + 1 < args.size()) {
            const std::wstring& value = args[i + 1];
            if (SameSwitch(arg, L"/dir")) {
                options.dir = value;
            } else if (SameSwitch(arg, L"/startmenu")) {
                options.start_menu_dir = value;
            } else if (SameSwitch(arg, L"/regkey")) {
                options.reg_key = value;
            } else if (SameSwitch(arg, L"/parent")) {
                options.parent_pid = ProcessIdValue(value);
            } else {
                continue;
            }
            ++i;
        }
    }
    if (!IsPlainKeyName(options.reg_key)) options.reg_key = kDefaultRegKey;
    return options;
}

std::wstring TrimTrailingSeparators(std::wstring_view folder) {
    while (folder.size() > 1 && IsSeparator(folder.back()) && !IsDriveRoot(folder)) folder.remove_suffix(1);
    return std::wstring(folder);
}

std::wstring FolderOf(std::wstring_view path) {
    const size_t last = path.rfind(L'\\');
    return std::wstring(last == std::wstring_view::npos ? path : path.substr(0, last));
}

InstallLayout MakeInstallLayout(std::wstring_view installFolder, std::wstring_view startMenuFolder) {
    InstallLayout layout;
    layout.folder = std::wstring(installFolder);
    layout.programPath = JoinPath(installFolder, kProgramFileName);
    layout.uninstallerPath = JoinPath(installFolder, kUninstallerFileName);
    if (!startMenuFolder.empty()) layout.shortcutPath = JoinPath(startMenuFolder, std::wstring(kSetupDisplayName) + L".lnk");
    return layout;
}

std::wstring UninstallKeyPath(std::wstring_view reg_key) { return std::wstring(kUninstallParentKey) + std::wstring(reg_key); }

std::wstring UninstallCommand(std::wstring_view uninstallerPath, std::wstring_view reg_key) {
    std::wstring command = L"\"" + std::wstring(uninstallerPath) + L"\" /uninstall";
    if (reg_key != kDefaultRegKey) command += L" /regkey " + std::wstring(reg_key);
    return command;
}

uint32_t EstimatedSizeKb(uint64_t programBytes) {
    const uint64_t kb = programBytes / 1024 + 1;
    return kb > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max() : static_cast<uint32_t>(kb);
}

std::vector<RegistryValue> RegistrationValues(const InstallLayout& layout, std::wstring_view reg_key,
                                              std::wstring_view serviceBaseUrl, std::optional<uint64_t> programBytes) {
    using Kind = RegistryValue::Kind;
    auto text = [](const wchar_t* name, std::wstring value) { return RegistryValue{name, Kind::String, std::move(value), 0}; };
    auto dword = [](const wchar_t* name, uint32_t value) { return RegistryValue{name, Kind::Dword, {}, value}; };
    const std::wstring uninstall = UninstallCommand(layout.uninstallerPath, reg_key);
    std::vector<RegistryValue> values = {
        text(L"DisplayName", kSetupDisplayName),
        text(L"DisplayVersion", kSetupVersion),
        text(L"Publisher", kSetupPublisher),
        text(L"DisplayIcon", layout.programPath),
        text(L"InstallLocation", layout.folder),
        text(L"URLInfoAbout", std::wstring(serviceBaseUrl)),
        text(L"HelpLink", std::wstring(serviceBaseUrl) + L"/help"),
        text(L"OstrelShortcut", layout.shortcutPath),
        text(L"UninstallString", uninstall),
        text(L"QuietUninstallString", uninstall + L" /S"),
        dword(L"NoModify", 1),
        dword(L"NoRepair", 1),
    };
    if (programBytes) values.push_back(dword(L"EstimatedSize", EstimatedSizeKb(*programBytes)));
    return values;
}

std::wstring QuoteArgument(std::wstring_view argument) {
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes count as escapes only in front of a quote.
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    quoted += L'"';
    return quoted;
}

std::wstring TemporaryCopyPath(std::wstring_view tempFolder, uint32_t processId) {
    return JoinPath(tempFolder, L"OstrelUninstall-" + std::to_wstring(processId) + L".exe");
}

std::wstring HandOffCommandLine(std::wstring_view copyPath, std::wstring_view installFolder, std::wstring_view reg_key,
                                uint32_t processId, bool silent) {
    std::wstring line = QuoteArgument(copyPath) + L" /uninstall /dir " + QuoteArgument(installFolder) + L" /regkey " +
                        std::wstring(reg_key) + L" /parent " + std::to_wstring(processId);
    if (silent) line += L" /S";
    return line;
}
