// Until the library client is part of the program: never signed in, and
// nothing to save to.
#include "app/cloud_calls.h"

bool IsSignedIn() { return false; }
std::wstring SignedInEmail() { return {}; }
void SignOut() {}
void ShowSignInWindow() {}
void HandleSignInCodeEvent(LPARAM) {}
void SaveWithPicker() {}
void SaveToLibrary(const std::wstring&) {}
std::wstring WebAppAddress() { return L"https://ostrel.nira.app/app"; }
