#pragma once
// What the sign-in and save workers post to the window that started them,
// and what each post carries.
#include <windows.h>

constexpr UINT WM_CLOUD_EVENT = WM_APP + 5;

// Codes of WM_CLOUD_EVENT (its wParam).
constexpr WPARAM CLOUD_SIGNIN_DONE = 1;      // lParam: heap std::wstring, empty on success
constexpr WPARAM CLOUD_UPLOAD_PROGRESS = 2;  // lParam: percentage 0..100, no object
constexpr WPARAM CLOUD_UPLOAD_SAVED = 3;     // lParam: heap std::wstring
constexpr WPARAM CLOUD_SIGNIN_CODE = 4;      // lParam: heap SignInCodeMessage
constexpr WPARAM CLOUD_UPLOAD_FAILED = 5;    // lParam: heap std::wstring
constexpr WPARAM CLOUD_SIGNED_OUT = 6;       // lParam: 0
