#pragma once
// What the tray program asks of the library client.
#include <windows.h>

#include <string>

#include "app/signin_window.h"
#include "cloud/account.h"
#include "cloud/device_signin.h"  // SignOut
#include "app/save_flow.h"

// CLOUD_SIGNIN_CODE: takes over the posted device code and frees it.
void HandleSignInCodeEvent(LPARAM lParam);
// The web app's fixed address; a test server does not change it.
std::wstring WebAppAddress();
