#include "cloud/cloud_core.h"


#include "cloud/utf8_core.h"

namespace {

bool StartsWith(std::wstring_view text, std::wstring_view prefix) {
    return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}

constexpr uint64_t kLongestCodeSeconds = 24 * 60 * 60;

bool IsLoopbackTestServer(std::wstring_view value) {
    constexpr std::wstring_view kScheme = L"http://";
    if (!StartsWith(value, L"http://127.0.0.1:") && !StartsWith(value, L"http://localhost:")) return false;
    // Host and port run to the first slash. Anything in them but digits after
    // the colon (user information above all, "localhost:@other") would let
    // the address name another host.
    const std::wstring_view authority = value.substr(kScheme.size(), value.find(L'/', kScheme.size()) - kScheme.size());
    for (const wchar_t c : authority.substr(authority.find(L':') + 1)) {
        if (c < L'0' || c > L'9') return false;
    }
    return true;
}

}  // namespace

std::wstring ChooseServiceBaseUrl(std::optional<std::wstring_view> envValue) {
    if (envValue && IsLoopbackTestServer(*envValue)) return std::wstring(*envValue);
    return kServiceOrigin;
}

bool IsTestServerHost(std::wstring_view host) { return host == L"127.0.0.1" || host == L"localhost"; }

bool IsTestServerUrl(std::wstring_view baseUrl) { return !StartsWith(baseUrl, L"https://"); }

std::wstring RequestHeaders(std::wstring_view contentType, const std::string* token, std::string_view sha256Hex) {
    constexpr std::wstring_view kAccept = L"accept: application/json\r\n", kContentType = L"content-type: ",
                                kAuthorization = L"authorization: Bearer ", kHash = L"x-sha256: ", kEnd = L"\r\n";
    std::wstring headers;
    // All the room at once: growing would free copies of the token.
    headers.reserve(kAccept.size() + (contentType.empty() ? 0 : kContentType.size() + contentType.size() + kEnd.size()) +
                    (token == nullptr ? 0 : kAuthorization.size() + token->size() + kEnd.size()) +
                    (sha256Hex.empty() ? 0 : kHash.size() + sha256Hex.size() + kEnd.size()));
    headers += kAccept;
    if (!contentType.empty()) headers.append(kContentType).append(contentType).append(kEnd);
    if (token != nullptr) {
        headers += kAuthorization;
        for (const char byte : *token) headers.push_back(static_cast<wchar_t>(static_cast<unsigned char>(byte)));
        headers += kEnd;
    }
    if (!sha256Hex.empty()) {
        headers += kHash;
        for (const char c : sha256Hex) headers.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
        headers += kEnd;
    }
    return headers;
}

std::wstring ServiceFailureMessage(int32_t status, const JsonValue& body) {
    std::wstring message = JsonText(JsonMember(JsonMember(body, "error"), "message"));
    if (message.empty()) message = L"Ostrel's server answered " + std::to_wstring(status) + L". Please try again.";
    return message;
}

std::string DeviceName(bool haveName, std::wstring_view hostName) {
    if (!haveName) return "Windows PC";
    std::wstring_view kept = hostName.substr(0, 60);
    if (!kept.empty() && kept.back() >= 0xD800 && kept.back() <= 0xDBFF) kept.remove_suffix(1);
    return WideToUtf8(kept);
}

std::string DeviceStartBody(std::string_view deviceName) {
    return "{\"device_name\":" + JsonQuote(deviceName) + ",\"platform\":\"windows\"}";
}

std::string DeviceTokenBody(std::string_view deviceCode) { return "{\"device_code\":" + JsonQuote(deviceCode) + "}"; }

int32_t PollIntervalSeconds(double interval) {
    // Out of the 32-bit range (NaN included) counts like a missing figure.
    if (!(interval > 2.0 && interval < 2147483648.0)) return 2;
    const auto seconds = static_cast<int32_t>(interval);
    return seconds > 2 ? seconds : 2;
}

uint64_t CodeDeadline(double expiresIn, uint64_t nowMs) {
    uint64_t seconds = 600;
    if (expiresIn > 0) {
        seconds = expiresIn >= static_cast<double>(kLongestCodeSeconds) ? kLongestCodeSeconds
                                                                         : static_cast<uint64_t>(expiresIn);
    }
    return nowMs + seconds * 1000;
}

bool ReadDeviceCode(const JsonValue& answer, uint64_t nowMs, DeviceCode& code) {
    code.deviceCode = JsonMember(answer, "device_code").text;
    code.userCode = JsonText(JsonMember(answer, "user_code"));
    code.verificationUri = JsonText(JsonMember(answer, "verification_uri"));
    code.verificationUriComplete = JsonText(JsonMember(answer, "verification_uri_complete"));
    code.interval = PollIntervalSeconds(JsonMember(answer, "interval").number);
    code.deadline = CodeDeadline(JsonMember(answer, "expires_in").number, nowMs);
    return !code.deviceCode.empty();
}

uint64_t PollWaitMilliseconds(int32_t interval, uint64_t nowMs, uint64_t deadline) {
    const uint64_t wait = interval > 0 ? static_cast<uint64_t>(interval) * 1000 : 0;
    const uint64_t left = deadline > nowMs ? deadline - nowMs : 0;
    return wait < left ? wait : left;
}

std::wstring StatusAfterFailedPoll(int32_t httpStatus) {
    return httpStatus == 0 || httpStatus == 429 ? L"pending" : L"error";
}

std::wstring SignInEndMessage(std::wstring_view status, std::wstring_view pollMessage) {
    if (status == L"approved") return {};
    if (status == L"denied") return kDeniedMessage;
    // An "error" with nothing to say (the service itself sent that word) must
    // not read as a success, which an empty message means.
    if (status == L"error" && !pollMessage.empty()) return std::wstring(pollMessage);
    return kExpiredMessage;
}

std::wstring AddressWithoutScheme(std::wstring_view address) {
    const size_t scheme = address.find(L"://");
    if (address.size() >= 3 && scheme != std::wstring_view::npos) return std::wstring(address.substr(scheme + 3));
    return std::wstring(address);
}

bool IsWebAddress(std::wstring_view address) {
    std::wstring lower(address.substr(0, 8));
    for (wchar_t& c : lower) c = (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
    return lower == L"https://" && address.size() > 8;
}

std::string AccountPlaintext(const Account& account) {
    std::string plaintext;
    // All the room at once: growing would free copies of the token.
    plaintext.reserve(account.token.size() + account.email.size() + account.workspace.size() + 2);
    plaintext.append(account.token).append(1, '\n').append(account.email).append(1, '\n').append(account.workspace);
    return plaintext;
}

bool SplitAccountPlaintext(std::string_view plaintext, Account& account) {
    const size_t first = plaintext.find('\n');
    if (first == std::string_view::npos) return false;
    const size_t second = plaintext.find('\n', first + 1);
    if (second == std::string_view::npos) return false;
    account.token = std::string(plaintext.substr(0, first));
    account.email = std::string(plaintext.substr(first + 1, second - first - 1));
    account.workspace = std::string(plaintext.substr(second + 1));
    return true;
}

bool AccountFromTokenAnswer(const JsonValue& answer, Account& account) {
    account.token = JsonMember(answer, "token").text;
    account.email = JsonMember(JsonMember(answer, "user"), "email").text;
    account.workspace = JsonMember(JsonMember(answer, "workspace"), "name").text;
    if (account.token.empty() || account.email.find('\n') != std::string::npos) return false;
    for (const char c : account.token) {
        if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7F) return false;
    }
    return true;
}
