// The tray program's side of the library client.
#include "app/cloud_calls.h"

#include <memory>

#include "app/signin_window.h"
#include "cloud/http_client.h"
#include "common/posted.h"

void HandleSignInCodeEvent(LPARAM lParam) {
    if (std::unique_ptr<SignInCodeMessage> record = TakePosted<SignInCodeMessage>(lParam))
        HandleSignInCode(record.release());
}

std::wstring WebAppAddress() { return std::wstring(kServiceOrigin) + L"/app"; }
