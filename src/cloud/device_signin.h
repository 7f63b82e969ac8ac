#pragma once
// Device-code sign-in: ask the service for a short code, let the user allow
// this computer in the browser, and poll until the answer is in.
#include <windows.h>

#include <atomic>
#include <memory>
#include <string>

#include "cloud/cloud_core.h"  // DeviceCode

// Set by the sign-in window when it goes; the worker holds its own reference.
using SignInStopFlag = std::shared_ptr<std::atomic<bool>>;

// What the worker posts with WM_CLOUD_EVENT / CLOUD_SIGNIN_CODE (heap, `new`);
// the main window owns it from then on. `window` names the sign-in window that
// started the worker, as an identity only.
struct SignInCodeMessage {
    DeviceCode code;
    HWND window = nullptr;
};

// True when the service handed out a code; otherwise message says why.
bool StartDeviceSignIn(DeviceCode& code, std::wstring& message);
// One poll: "pending", "approved" (the sign-in is saved), "denied", "error"
// (message says why) or whatever other word the service answered.
std::wstring PollDeviceToken(const DeviceCode& code, std::wstring& message);
// Tells the service (when signed in), then forgets the sign-in in every case,
// so the computer is signed out even when the service is unreachable.
void SignOut();
// The sign-in thread's body: posts CLOUD_SIGNIN_CODE, then CLOUD_SIGNIN_DONE,
// to `reportTo`; nothing at all once the stop flag is set.
void SignInWorker(SignInStopFlag stop, HWND signInWindow, HWND reportTo);
