#include "cloud/upload_core.h"

#include <charconv>
#include <cstdio>

#include "cloud/json_core.h"

namespace {

bool StartsWithKey(std::string_view line, std::string_view key) {
    return line.size() > key.size() && line.compare(0, key.size(), key) == 0 && line[key.size()] == '|';
}

}  // namespace

std::optional<CaptureKind> CaptureKindFor(std::wstring_view fileName) {
    const size_t dot = fileName.find_last_of(L'.');
    if (dot == std::wstring_view::npos) return std::nullopt;
    std::string extension;
    for (wchar_t c : fileName.substr(dot)) {
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
        if (c > 0x7F) return std::nullopt;  // no extension of the table has other letters
        extension += static_cast<char>(c);
    }
    static const struct {
        const char* extension;
        CaptureKind kind;
    } table[] = {
        {".mp4", {"video/mp4", "video"}},        {".png", {"image/png", "screenshot"}},
        {".jpg", {"image/jpeg", "screenshot"}},  {".jpeg", {"image/jpeg", "screenshot"}},
        {".webp", {"image/webp", "screenshot"}}, {".gif", {"image/gif", "screenshot"}},
    };
    for (const auto& row : table)
        if (extension == row.extension) return row.kind;
    return std::nullopt;
}

std::wstring_view FileStem(std::wstring_view fileName) {
    const size_t dot = fileName.find_last_of(L'.');
    return dot == std::wstring_view::npos ? fileName : fileName.substr(0, dot);
}

std::optional<uint32_t> ServicePartSize(double value, uint32_t current) {
    if (!(value >= 1)) return current;  // also NaN
    if (value >= 4294967296.0) return std::nullopt;
    return static_cast<uint32_t>(value);
}

uint64_t PartCount(uint64_t fileSize, uint32_t partSize) {
    return partSize == 0 ? 0 : fileSize / partSize + (fileSize % partSize != 0 ? 1 : 0);
}

PartRange PartOf(uint64_t fileSize, uint32_t partSize, uint64_t number) {
    PartRange range;
    if (number == 0 || number > PartCount(fileSize, partSize)) return range;
    range.offset = (number - 1) * partSize;
    const uint64_t end = number * partSize < fileSize ? number * partSize : fileSize;
    range.length = static_cast<uint32_t>(end - range.offset);
    return range;
}

bool PartFailureRetryable(int status, std::string_view errorCode) {
    if (status == 0 || status == 429 || status >= 500) return true;
    return errorCode == "checksum_mismatch";
}

uint32_t PartRetryWaitMs(int attempt) {
    uint32_t wait = 1000;
    for (int i = 0; i < attempt; ++i) wait *= 4;
    return wait;
}

std::optional<int> PercentReporter::Update(uint64_t done, uint64_t total) {
    if (total == 0) return std::nullopt;
    const int percent = static_cast<int>(done * 100 / total);
    if (percent == last_) return std::nullopt;
    last_ = percent;
    return percent;
}

std::string UtcTimeStampText(int year, int month, int day, int hour, int minute, int second, int millisecond) {
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", year, month, day, hour, minute, second,
                  millisecond);
    return text;
}

std::wstring SavedToLibraryText(std::string_view state, bool linkCopied) {
    std::wstring text = state == "ready"
                            ? L"Saved to your workspace library."
                            : L"Saved. It's being safety-checked and will show in the library in a moment.";
    if (linkCopied) text += L" The link is on the clipboard.";
    return text;
}

namespace {

struct Origin {
    std::string scheme, host;
    uint32_t port = 0;
};

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// scheme "://" host [":" port], then the end or one of "/?#". Schemes other
// than http and https have no origin here.
std::optional<Origin> OriginOf(std::string_view address) {
    const size_t colon = address.find("://");
    if (colon == std::string_view::npos) return std::nullopt;
    Origin origin;
    for (const char c : address.substr(0, colon)) origin.scheme += Lower(c);
    if (origin.scheme != "http" && origin.scheme != "https") return std::nullopt;
    std::string_view authority = address.substr(colon + 3);
    authority = authority.substr(0, authority.find_first_of("/?#"));
    if (authority.find('@') != std::string_view::npos) return std::nullopt;
    origin.port = origin.scheme == "https" ? 443 : 80;
    const size_t portAt = authority.rfind(':');
    if (portAt != std::string_view::npos) {
        const std::string_view digits = authority.substr(portAt + 1);
        if (digits.empty() || digits.size() > 5) return std::nullopt;
        uint32_t port = 0;
        for (const char c : digits) {
            if (c < '0' || c > '9') return std::nullopt;
            port = port * 10 + static_cast<uint32_t>(c - '0');
        }
        if (port == 0 || port > 65535) return std::nullopt;
        origin.port = port;
        authority = authority.substr(0, portAt);
    }
    if (authority.empty()) return std::nullopt;
    for (const char c : authority) origin.host += Lower(c);
    return origin;
}

}  // namespace

bool IsLibraryLink(std::string_view link, std::wstring_view baseUrl) {
    if (link.empty() || link.size() > kLibraryLinkLimit) return false;
    // Only what a URI may hold: unreserved and reserved characters, and "%"
    // with two hex digits. A quote, for one, would end the argument of a
    // browser registered as "%1".
    // ASCII by hand: the C library's classes follow the locale.
    const auto alnum = [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    const auto hex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); };
    for (size_t i = 0; i < link.size(); ++i) {
        const char c = link[i];
        if (c == '%') {
            if (i + 2 >= link.size() || !hex(link[i + 1]) || !hex(link[i + 2])) return false;
            i += 2;
            continue;
        }
        const bool allowed = alnum(c) ||
                             std::string_view("-._~:/?#[]@!$&'()*+,;=").find(c) != std::string_view::npos;
        if (!allowed) return false;
    }
    std::string base;
    for (const wchar_t c : baseUrl) {
        if (c <= 0x20 || c >= 0x7F) return false;
        base += static_cast<char>(c);
    }
    const std::optional<Origin> linkOrigin = OriginOf(link), baseOrigin = OriginOf(base);
    return linkOrigin && baseOrigin && linkOrigin->scheme == baseOrigin->scheme &&
           linkOrigin->host == baseOrigin->host && linkOrigin->port == baseOrigin->port;
}

AutoSaveQueue::Offer AutoSaveQueue::Add(const std::wstring& path) {
    if (waiting_.size() < kAutoSaveQueueLimit) {
        waiting_.push_back(path);
        return Offer::Queued;
    }
    if (told_) return Offer::FullAgain;
    told_ = true;
    return Offer::Full;
}

std::optional<std::wstring> AutoSaveQueue::Next() {
    if (waiting_.empty()) {
        told_ = false;
        return std::nullopt;
    }
    std::wstring next = std::move(waiting_.front());
    waiting_.erase(waiting_.begin());
    return next;
}

void AutoSaveQueue::Clear() {
    waiting_.clear();
    told_ = false;
}

std::string UploadKey(std::string_view pathUtf8, uint64_t size) {
    return std::string(pathUtf8) + "|" + std::to_string(size);
}

std::vector<std::string> UploadLines(std::string_view bytes) {
    std::vector<std::string> lines;
    std::string line;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
        if (bytes[i] == '\n') {
            lines.push_back(std::move(line));
            line.clear();
        } else {
            line += bytes[i];
        }
    }
    if (!line.empty()) lines.push_back(std::move(line));
    return lines;
}

std::string FindUploadIdIn(const std::vector<std::string>& lines, std::string_view key) {
    for (const std::string& line : lines)
        if (StartsWithKey(line, key)) return line.substr(key.size() + 1);
    return {};
}

std::string UploadsFileAfterSet(const std::vector<std::string>& lines, std::string_view key, std::string_view id) {
    std::string text;
    for (const std::string& line : lines) {
        if (line.empty() || StartsWithKey(line, key)) continue;
        text += line;
        text += "\r\n";
    }
    if (!id.empty()) {
        text += key;
        text += '|';
        text += id;
        text += "\r\n";
    }
    return text;
}

std::string CreationBody(const CaptureCreation& c) {
    std::string body = "{\"filename\":" + JsonQuote(c.fileStem);
    body += ",\"mime\":\"" + std::string(c.kind.mime) + "\",\"kind\":\"" + c.kind.kind +
            "\",\"source\":\"windows\",\"size_bytes\":" + std::to_string(c.size);
    body += ",\"captured_at\":\"" + c.capturedAt + "\"";
    if (c.width > 0 && c.height > 0)
        body += ",\"width\":" + std::to_string(c.width) + ",\"height\":" + std::to_string(c.height);
    if (c.isVideo && c.duration > 0) {
        // Two decimals with a point, whatever the process locale.
        char number[64];
        const auto end = std::to_chars(number, number + sizeof number, c.duration, std::chars_format::fixed, 2);
        body += ",\"duration_s\":" + std::string(number, end.ec == std::errc() ? end.ptr : number);
        body += std::string(",\"has_audio\":") + (c.hasAudio ? "true" : "false");
    }
    if (!c.thumbnail.empty()) body += ",\"thumbnail\":" + JsonQuote(c.thumbnail);
    body += "}";
    return body;
}

bool UsableCaptureId(std::string_view id) {
    if (id.empty() || id.size() > 256 || id == "." || id == "..") return false;
    for (char c : id) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                           c == '_' || c == '.' || c == '~';
        if (!plain) return false;
    }
    return true;
}
