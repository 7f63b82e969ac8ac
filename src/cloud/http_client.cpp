#include "cloud/http_client.h"

#include <windows.h>
#include <winhttp.h>

#include <optional>

#include "common/version.h"
#include "cloud/account.h"

namespace {

constexpr wchar_t kUnreachableMessage[] =
    L"Ostrel couldn't reach its server. Check the connection; the capture is still on this computer.";
constexpr wchar_t kNoConnectionMessage[] = L"Windows couldn't start a connection.";

class InternetHandle {
public:
    explicit InternetHandle(HINTERNET handle = nullptr) : handle_(handle) {}
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;
    ~InternetHandle() {
        if (handle_ != nullptr) WinHttpCloseHandle(handle_);
    }
    HINTERNET Get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    HINTERNET handle_;
};

template <typename Text>
void Wipe(Text& text) {
    if (!text.empty()) SecureZeroMemory(text.data(), text.size() * sizeof(text[0]));
    text.clear();
}

struct ServerAddress {
    bool secure = false;
    std::wstring host;
    INTERNET_PORT port = 0;
    std::wstring path;
};

// User information in an address is refused: WinHTTP would otherwise take
// whatever precedes an "@" for a user name and go to the host after it.
bool CrackAddress(const std::wstring& url, ServerAddress& address) {
    wchar_t host[256] = {};
    wchar_t urlPath[2048] = {};
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwSchemeLength = static_cast<DWORD>(-1);
    parts.lpszHostName = host;
    parts.dwHostNameLength = ARRAYSIZE(host);
    parts.lpszUrlPath = urlPath;
    parts.dwUrlPathLength = ARRAYSIZE(urlPath);
    if (!WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), ICU_REJECT_USERPWD, &parts)) return false;
    address.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    address.host.assign(host, parts.dwHostNameLength);
    address.port = parts.nPort;
    address.path.assign(urlPath, parts.dwUrlPathLength);
    return true;
}

// TLS 1.2 at the least. A WinHTTP without TLS 1.3 refuses the pair (error 87),
// and its defaults may still allow TLS 1.0: then 1.2 alone.
bool SetTlsFloor(HINTERNET session) {
    DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
    if (WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols)) return true;
    protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
    return WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols) != FALSE;
}

// Grows the body without leaving what it held in freed memory: the answer to
// an approved sign-in carries the token.
void GrowBody(std::string& body, size_t size) {
    if (size > body.capacity()) {
        std::string larger;
        larger.reserve(size > 2 * body.capacity() ? size : 2 * body.capacity());
        larger.assign(body);
        SecureZeroMemory(body.data(), body.size());
        body.swap(larger);
    }
    body.resize(size);
}

void ReadBody(HINTERNET request, std::string& body) {
    // The limit is tested before each chunk, so one chunk may carry the body past it.
    while (body.size() <= kResponseBodyLimit) {
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request, &available) || available == 0) return;
        const size_t start = body.size();
        GrowBody(body, start + available);
        DWORD read = 0;
        if (!WinHttpReadData(request, body.data() + start, available, &read)) read = 0;
        body.resize(start + read);
        if (read == 0) return;
    }
}

}  // namespace

std::wstring ServiceBaseUrl() {
    wchar_t buffer[kTestServerEnvBuffer];
    const DWORD length = GetEnvironmentVariableW(L"OSTREL_TEST_SERVER", buffer, kTestServerEnvBuffer);
    std::optional<std::wstring_view> value;
    // A length of the buffer or more is the size a longer value would need: unset.
    if (length > 0 && length < kTestServerEnvBuffer) value = std::wstring_view(buffer, length);
    const std::wstring chosen = ChooseServiceBaseUrl(value);
    if (chosen == kServiceOrigin) return chosen;
    // The test server only as the platform itself reads the address: plain
    // http to this computer, whatever the text seemed to say.
    ServerAddress address;
    if (!CrackAddress(chosen, address) || address.secure || !IsTestServerHost(address.host)) return kServiceOrigin;
    return chosen;
}

bool UsesTestServer() { return IsTestServerUrl(ServiceBaseUrl()); }

bool CallService(const std::wstring& method, const std::wstring& path, const void* body, uint32_t bodyLength,
                 const wchar_t* contentType, const std::string& sha256Hex, bool authorized, HttpResponse& response,
                 std::wstring& message) {
    ServerAddress address;
    if (!CrackAddress(ServiceBaseUrl() + path, address)) {
        message = L"Bad server address.";
        return false;
    }

    std::optional<std::string> token;
    if (authorized) {
        Account account;
        if (!LoadAccount(account)) {
            response.status = 401;
            message = L"Sign in with NIRA first.";
            return false;
        }
        token = std::move(account.token);
    }

    const std::wstring userAgent = std::wstring(L"NIRA-Ostrel-Windows/") + kAppVersion;
    InternetHandle session(
        WinHttpOpen(userAgent.c_str(), WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session || (address.secure && !SetTlsFloor(session.Get()))) {
        if (token) Wipe(*token);
        message = kNoConnectionMessage;
        return false;
    }
    WinHttpSetTimeouts(session.Get(), 15000, 15000, 120000, 120000);

    InternetHandle connection(WinHttpConnect(session.Get(), address.host.c_str(), address.port, 0));
    InternetHandle request(connection ? WinHttpOpenRequest(connection.Get(), method.c_str(), address.path.c_str(), nullptr,
                                                           WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                           address.secure ? WINHTTP_FLAG_SECURE : 0)
                                      : nullptr);
    if (!request) {
        if (token) Wipe(*token);
        message = kUnreachableMessage;
        return false;
    }
    // WinHTTP sends added headers again to wherever a redirect points, so an
    // authorized call takes no redirect at all; its 3xx is an unexpected answer.
    DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    if (authorized && !WinHttpSetOption(request.Get(), WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof never)) {
        Wipe(*token);
        message = kNoConnectionMessage;
        return false;
    }

    std::wstring headers =
        RequestHeaders(contentType != nullptr ? std::wstring_view(contentType) : std::wstring_view(),
                       token ? &*token : nullptr, sha256Hex);
    const BOOL sent = WinHttpSendRequest(request.Get(), headers.c_str(), static_cast<DWORD>(-1),
                                         const_cast<void*>(bodyLength > 0 ? body : nullptr), bodyLength, bodyLength, 0) &&
                      WinHttpReceiveResponse(request.Get(), nullptr);
    // The header block carries the token too.
    Wipe(headers);
    if (token) Wipe(*token);
    if (!sent) {
        message = kUnreachableMessage;
        return false;
    }

    // No status, or none of three digits, is no HTTP answer.
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!WinHttpQueryHeaders(request.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX) ||
        status < 100 || status > 999) {
        message = kUnreachableMessage;
        return false;
    }
    response.status = static_cast<int32_t>(status);
    ReadBody(request.Get(), response.body);
    response.json = ParseJson(response.body);
    if (response.status >= 200 && response.status < 300) return true;

    message = ServiceFailureMessage(response.status, response.json);
    if (response.status == 401 && authorized) ForgetAccount();
    return false;
}

void WipeResponse(HttpResponse& response) {
    Wipe(response.body);
    WipeJson(response.json);
}

bool CallServiceJson(const std::wstring& method, const std::wstring& path, const std::string& jsonBody, bool authorized,
                     HttpResponse& response, std::wstring& message) {
    return CallService(method, path, jsonBody.data(), static_cast<uint32_t>(jsonBody.size()),
                       jsonBody.empty() ? nullptr : L"application/json", std::string(), authorized, response, message);
}
