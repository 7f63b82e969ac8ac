#pragma once
// What the tray program asks of the library service: the sign-in state,
// the sign-in window and saving captures.
#include <string>

#include <windows.h>

bool IsSignedIn();
std::wstring SignedInEmail();
void SignOut();
void ShowSignInWindow();
// CLOUD_SIGNIN_CODE: takes over the posted device code and frees it.
void HandleSignInCodeEvent(LPARAM lParam);
void SaveWithPicker();
void SaveToLibrary(const std::wstring& path);
// The web app's fixed address.
std::wstring WebAppAddress();
