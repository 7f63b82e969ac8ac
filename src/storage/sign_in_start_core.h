#pragma once
// Starting the program when the user signs in to Windows: the value under the
// user's Run key that does it, and how a value found there stands.
#include <functional>
#include <optional>
#include <string>
#include <string_view>

inline constexpr wchar_t kRunKeyPath[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr wchar_t kRunValueName[] = L"NIRA Ostrel";
// Starts the tray program with its icon only: no notice, no toolbar until asked for.
inline constexpr wchar_t kQuietSwitch[] = L"--quiet";

// The value for the program at `programPath`: its quoted path and the quiet switch.
std::wstring SignInStartCommand(std::wstring_view programPath);

// The program a value starts: its first argument, quoted or not.
std::wstring SignInStartProgram(std::wstring_view value);

enum class SignInStart {
    Absent,  // no value, or an empty one
    Ours,    // starts this program, quietly, as it should
    Stale,   // meant for this program: it names it another way, or names a program that is gone
    Other,   // starts another copy that is there
};

// How `value` stands for the program at `ownPath`. `samePath` compares two
// paths as Windows does; `exists` tells whether a program file is there.
SignInStart JudgeSignInStart(const std::optional<std::wstring>& value, std::wstring_view ownPath,
                             const std::function<bool(std::wstring_view, std::wstring_view)>& samePath,
                             const std::function<bool(const std::wstring&)>& exists);
