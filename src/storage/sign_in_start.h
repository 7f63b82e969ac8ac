#pragma once
// The user's Run value that starts the program at sign-in, read and written
// in the registry itself, so it stays the one record of the choice.
#include <optional>
#include <string>

#include "storage/sign_in_start_core.h"

std::optional<std::wstring> ReadSignInStart();
// Makes the value start the program at `programPath` quietly.
bool WriteSignInStart(const std::wstring& programPath);
// True when no value is left.
bool RemoveSignInStart();
// How `value` (as read) stands for the program at `programPath`; the second
// form reads it.
SignInStart JudgeSignInStartValue(const std::optional<std::wstring>& value, const std::wstring& programPath);
SignInStart SignInStartFor(const std::wstring& programPath);
// Two paths the same as Windows compares them, without regard to case.
bool SameFilePath(std::wstring_view a, std::wstring_view b);
// The full path of the program running.
std::wstring RunningProgramPath();
