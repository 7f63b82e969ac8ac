#include "storage/storage_core.h"

#include <cstdio>

#include "cloud/utf8_core.h"

std::wstring ChooseDataFolder(std::wstring_view envValue, std::wstring_view roamingAppData) {
    if (!envValue.empty() && envValue.size() < kDataDirEnvBuffer) return std::wstring(envValue);
    if (roamingAppData.empty()) return {};
    return std::wstring(roamingAppData) + L"\\NIRA Ostrel";
}

std::wstring_view PathFileName(std::wstring_view path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring_view::npos ? path : path.substr(slash + 1);
}

std::wstring CapturesFolderBelow(std::wstring_view videosFolder) {
    if (videosFolder.empty()) return {};
    return std::wstring(videosFolder) + L"\\Ostrel";
}

bool IsFullyQualifiedPath(std::wstring_view path) {
    auto isLetter = [](wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); };
    if (path.size() >= 3 && isLetter(path[0]) && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/'))
        return true;
    // "\\server\share": two separators, then a server name.
    return path.size() >= 3 && (path[0] == L'\\' || path[0] == L'/') && (path[1] == L'\\' || path[1] == L'/') &&
           path[2] != L'\\' && path[2] != L'/';
}

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

}  // namespace

std::wstring TidyFolderPath(std::wstring_view path) {
    const auto blank = [](wchar_t c) { return c == L' ' || c == L'\t'; };
    while (!path.empty() && blank(path.front())) path.remove_prefix(1);
    // "C:\caps \" loses its separator and then its blank: both trail the last name.
    while (!path.empty() && (blank(path.back()) || IsSeparator(path.back())) &&
           !(path.size() == 3 && path[1] == L':' && IsSeparator(path[2])))
        path.remove_suffix(1);
    return std::wstring(path);
}

std::wstring JoinPath(std::wstring_view folder, std::wstring_view name) {
    std::wstring path(folder);
    if (path.empty() || !IsSeparator(path.back())) path += L'\\';
    path += name;
    return path;
}

std::wstring HexCode(uint32_t code) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(code));
    return std::wstring(buffer, buffer + 10);
}

std::wstring ComposeErrorText(std::wstring_view systemMessage, uint32_t code) {
    size_t end = systemMessage.size();
    while (end > 0) {
        const wchar_t c = systemMessage[end - 1];
        if (c != L'\n' && c != L'\r' && c != L' ') break;
        --end;
    }
    const std::wstring hex = HexCode(code);
    std::wstring_view text = systemMessage.substr(0, end);
    bool onlyBlank = true;
    for (wchar_t c : text) {
        if (c != L' ' && c != L'\t' && c != L'\r' && c != L'\n') {
            onlyBlank = false;
            break;
        }
    }
    if (onlyBlank) return L"error " + hex;
    return std::wstring(text) + L" (" + hex + L")";
}

std::wstring TimeStampText(int year, int month, int day, int hour, int minute, int second) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d-%02d-%02d", year, month, day, hour, minute, second);
    return Utf8ToWide(buffer);
}

std::string TextModeUtf8(std::wstring_view text, bool byteOrderMark) {
    const std::string utf8 = WideToUtf8(text);
    std::string bytes;
    bytes.reserve(utf8.size() + 16);
    if (byteOrderMark) bytes = "\xEF\xBB\xBF";
    for (char c : utf8) {
        if (c == '\n') bytes += '\r';
        bytes += c;
    }
    return bytes;
}

std::string LogFileBytes(std::wstring_view stamp, std::wstring_view message, bool fileIsEmpty) {
    return TextModeUtf8(std::wstring(stamp) + L"  " + std::wstring(message) + L"\n", fileIsEmpty);
}
