#include "cloud/device_signin.h"

#include "cloud/cloud_events.h"
#include "cloud/account.h"
#include "common/posted.h"
#include "cloud/http_client.h"
#include "cloud/utf8_core.h"
#include "storage/log.h"

namespace {

// Hands an object to the window that hears of the sign-in; it is freed
// here when the post cannot be made.
template <typename Object>
void PostCloudEvent(HWND reportTo, WPARAM code, Object* object) {
    PostObject(reportTo, WM_CLOUD_EVENT, code, std::unique_ptr<Object>(object));
}

std::string ComputerDeviceName() {
    wchar_t name[79] = {};
    DWORD size = ARRAYSIZE(name);
    const bool ok = GetComputerNameExW(ComputerNamePhysicalDnsHostname, name, &size) != 0;
    return DeviceName(ok, ok ? std::wstring_view(name, size) : std::wstring_view());
}

}  // namespace

bool StartDeviceSignIn(DeviceCode& code, std::wstring& message) {
    HttpResponse response;
    if (!CallServiceJson(L"POST", L"/api/device/start", DeviceStartBody(ComputerDeviceName()), false, response, message))
        return false;
    const bool haveCode = ReadDeviceCode(response.json, GetTickCount64(), code);
    Log(L"cloud: code %s", code.userCode.c_str());
    // An answer without a device code (or not JSON at all) would otherwise end
    // with no message, which reads as a successful sign-in.
    if (!haveCode) message = kNoCodeMessage;
    return haveCode;
}

std::wstring PollDeviceToken(const DeviceCode& code, std::wstring& message) {
    HttpResponse response;
    // An approved answer carries the token: none of it stays in freed memory.
    struct WipedOnReturn {
        HttpResponse& response;
        ~WipedOnReturn() { WipeResponse(response); }
    } wiped{response};
    if (!CallServiceJson(L"POST", L"/api/device/token", DeviceTokenBody(code.deviceCode), false, response, message))
        return StatusAfterFailedPoll(response.status);
    const std::wstring status = JsonText(JsonMember(response.json, "status"));
    if (status != L"approved") return status;

    Account account;
    if (!AccountFromTokenAnswer(response.json, account)) {
        WipeText(account.token);
        message = kUnusableSignInMessage;
        return L"error";
    }
    std::lock_guard<std::mutex> hold(AccountFileLock());
    const bool saved = SaveAccount(account);
    WipeText(account.token);
    if (!saved) {
        message = L"Windows couldn't protect the sign-in on this computer.";
        return L"error";
    }
    Log(L"cloud: signed in");
    return status;
}

void SignOut() {
    Account account;
    if (LoadAccount(account)) {
        WipeText(account.token);
        HttpResponse response;
        std::wstring ignored;
        CallServiceJson(L"DELETE", L"/api/devices/self", std::string(), true, response, ignored);
    }
    ForgetAccount();
}

void SignInWorker(SignInStopFlag stop, HWND signInWindow, HWND reportTo) {
    DeviceCode code;
    std::wstring message;
    if (!StartDeviceSignIn(code, message)) {
        if (!stop->load()) PostCloudEvent(reportTo, CLOUD_SIGNIN_DONE, new std::wstring(message));
        return;
    }
    if (!stop->load()) PostCloudEvent(reportTo, CLOUD_SIGNIN_CODE, new SignInCodeMessage{code, signInWindow});

    std::wstring status = L"pending";
    while (!stop->load() && status == L"pending") {
        if (GetTickCount64() >= code.deadline) break;
        const uint64_t wait = PollWaitMilliseconds(code.interval, GetTickCount64(), code.deadline);
        for (uint64_t waited = 0; waited < wait && !stop->load(); waited += 100) Sleep(100);
        if (stop->load()) break;
        status = PollDeviceToken(code, message);
    }
    if (stop->load()) return;

    Log(L"cloud: sign-in end %s", status.c_str());
    PostCloudEvent(reportTo, CLOUD_SIGNIN_DONE, new std::wstring(SignInEndMessage(status, message)));
}
