#pragma once
// What the tray program asks of the library client beyond the account store
// and the sign-in window.
#include <windows.h>

#include <string>

#include "app/signin_window.h"
#include "cloud/account.h"

// CLOUD_SIGNIN_CODE: takes over the posted device code and frees it.
void HandleSignInCodeEvent(LPARAM lParam);
void SaveWithPicker();
void SaveToLibrary(const std::wstring& path);
// The web app's fixed address; a test server does not change it.
std::wstring WebAppAddress();
