#pragma once
// Decisions of the library client that need no platform call: where requests
// go, the request headers and bodies, failure sentences, the device sign-in's
// timing rules and the saved sign-in's file fields.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "cloud/json_core.h"

// The library service's own origin, fixed at build time. The web app lives at
// this origin + "/app".
constexpr wchar_t kServiceOrigin[] = L"https://ostrel.nira.app";

// OSTREL_TEST_SERVER is read into a buffer of this many UTF-16 units; a value
// that does not fit counts as unset.
constexpr size_t kTestServerEnvBuffer = 512;

// The base URL: the test server named in the environment (nullopt when unset)
// when it is a plain-http loopback address with a port and nothing else
// before its path, else kServiceOrigin.
std::wstring ChooseServiceBaseUrl(std::optional<std::wstring_view> envValue);
// The only hosts a test server may have, as the platform splits its address.
bool IsTestServerHost(std::wstring_view host);

// True for any base URL that is not https: only a local test server.
bool IsTestServerUrl(std::wstring_view baseUrl);

// A response body is read in chunks until it is longer than this.
constexpr size_t kResponseBodyLimit = 1000000;

// The header block of one request, each line ending in CR LF. The token's
// bytes are widened one to one; an absent token means an unauthorized call.
std::wstring RequestHeaders(std::wstring_view contentType, const std::string* token, std::string_view sha256Hex);

// The sentence for an answer that is no success: the body's error.message,
// or "Ostrel's server answered <status>. Please try again.".
std::wstring ServiceFailureMessage(int32_t status, const JsonValue& body);

// The name this computer is announced with: the system's host name when it
// could be read (at most its first 60 UTF-16 units, never half a surrogate
// pair), else "Windows PC"; as UTF-8.
std::string DeviceName(bool haveName, std::wstring_view hostName);

std::string DeviceStartBody(std::string_view deviceName);
std::string DeviceTokenBody(std::string_view deviceCode);

// The answer of the start request.
struct DeviceCode {
    std::string deviceCode;               // sent back when polling; UTF-8
    std::wstring userCode;                // the short code the user compares
    std::wstring verificationUri;         // where the code can be typed by hand
    std::wstring verificationUriComplete;  // the page with the code filled in
    int32_t interval = 3;                 // seconds between polls
    uint64_t deadline = 0;                // tick count (ms) when the code runs out
};

// Seconds between polls: the service's figure truncated, at least 2.
int32_t PollIntervalSeconds(double interval);
// The code's deadline on the tick clock: expires_in seconds when positive,
// else 600; capped at a day so a wild figure cannot overflow the clock.
uint64_t CodeDeadline(double expiresIn, uint64_t nowMs);
// Fills the code from a start answer; true when it carries a device code.
bool ReadDeviceCode(const JsonValue& answer, uint64_t nowMs, DeviceCode& code);
// How long to wait before the next poll: one interval, but never past the
// code's deadline, so a huge interval cannot outlast the code.
uint64_t PollWaitMilliseconds(int32_t interval, uint64_t nowMs, uint64_t deadline);

// A poll whose request failed: no answer or 429 means keep polling.
std::wstring StatusAfterFailedPoll(int32_t httpStatus);
// The sentence a finished sign-in reports; empty only for "approved".
std::wstring SignInEndMessage(std::wstring_view status, std::wstring_view pollMessage);

// The verification address as shown: without its scheme when it has one.
std::wstring AddressWithoutScheme(std::wstring_view address);
// Only web pages are handed to the shell; any other address the service might
// send (a file, a program) is not opened.
bool IsWebAddress(std::wstring_view address);

// The saved sign-in: three UTF-8 texts taken byte for byte from the service.
struct Account {
    std::string token;
    std::string email;
    std::string workspace;
};

// token LF email LF workspace; the workspace may hold line feeds itself.
std::string AccountPlaintext(const Account& account);
bool SplitAccountPlaintext(std::string_view plaintext, Account& account);

// The sign-in of an approved token answer. False when it cannot be kept and
// sent safely: an empty token, a token that is not plain visible ASCII (it
// goes into a header line), or an email with a line feed (it would break the
// saved file's fields).
bool AccountFromTokenAnswer(const JsonValue& answer, Account& account);

// Fixed sentences of the sign-in.
constexpr wchar_t kNoCodeMessage[] = L"Ostrel's server didn't send a sign-in code. Please try again.";
constexpr wchar_t kUnusableSignInMessage[] = L"Ostrel's server sent a sign-in this computer can't use. Please try again.";
constexpr wchar_t kDeniedMessage[] = L"Sign-in wasn't allowed, so this computer is not signed in.";
constexpr wchar_t kExpiredMessage[] = L"The code expired. Choose Sign in with NIRA to get a new one.";
