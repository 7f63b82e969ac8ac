#pragma once
// The one way to talk to the library service: a blocking HTTP request over
// WinHTTP. Worker threads only; the user-interface thread never calls these.
#include <cstdint>
#include <string>

#include "cloud/cloud_core.h"  // kServiceOrigin
#include "cloud/json_core.h"

struct HttpResponse {
    int32_t status = 0;  // 0 when no HTTP answer arrived
    std::string body;    // as received, cut a little past 1,000,000 bytes
    JsonValue json;      // the body parsed; Null when empty or not JSON
};

// kServiceOrigin, or the local test server named by OSTREL_TEST_SERVER.
std::wstring ServiceBaseUrl();
// True when requests go to a local test server (no window, no browser).
bool UsesTestServer();

// One request to base URL + path. True when a 2xx answer arrived; otherwise
// message holds a sentence for the user. An authorized call sends the saved
// sign-in's token, follows no redirect (its 3xx is an unexpected answer), and
// a 401 answer to it signs this computer out. Unauthorized calls follow
// redirects as WinHTTP does.
bool CallService(const std::wstring& method, const std::wstring& path, const void* body, uint32_t bodyLength,
                 const wchar_t* contentType, const std::string& sha256Hex, bool authorized, HttpResponse& response,
                 std::wstring& message);

// Overwrites the body and every text of the parsed answer: for answers that
// carried a secret.
void WipeResponse(HttpResponse& response);

// CallService with a JSON body ("application/json" unless the body is empty).
bool CallServiceJson(const std::wstring& method, const std::wstring& path, const std::string& jsonBody, bool authorized,
                     HttpResponse& response, std::wstring& message);
