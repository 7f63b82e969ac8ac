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
// How the value stands for the program at `programPath`.
SignInStart SignInStartFor(const std::wstring& programPath);
// The full path of the program running.
std::wstring RunningProgramPath();
