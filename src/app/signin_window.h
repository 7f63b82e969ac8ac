#pragma once
// The sign-in window: shows the device code while the sign-in worker polls,
// with a button that opens the confirmation page and a Cancel button.
// User-interface thread only.
#include <windows.h>

#include "cloud/device_signin.h"  // DeviceCode, SignInCodeMessage

// Opens the window and starts its sign-in worker; brings an existing window
// forward instead. With a local test server the window stays hidden.
void ShowSignInWindow();

// Opens the browser on the page with the code filled in; with a local test
// server only a log line is written.
void OpenVerificationPage(const DeviceCode& code);

// The window procedure of kSignInClass.
LRESULT CALLBACK SignInWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// WM_CLOUD_EVENT / CLOUD_SIGNIN_CODE: fills the window when the code is for
// the sign-in window that exists now, drops it otherwise; deletes the message
// in every case.
void HandleSignInCode(SignInCodeMessage* message);
