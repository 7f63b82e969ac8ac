#pragma once
// The arithmetic and bookkeeping of sending a capture to the library in
// numbered parts: kinds of capture, the part plan, which failures are worth
// another attempt, progress percentages, and the uploads.txt lines that let
// an interrupted upload carry on.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct CaptureKind {
    const char* mime;
    const char* kind;  // "video" or "screenshot"
};
// By the file name's extension, compared in lower case; none for other files.
std::optional<CaptureKind> CaptureKindFor(std::wstring_view fileName);
// The file name without its extension (from the last dot).
std::wstring_view FileStem(std::wstring_view fileName);

constexpr uint32_t kDefaultPartSize = 8u << 20;

// The service's "part_size": whole bytes; below 1 keeps `current`. None when
// it does not fit a 32-bit part length (the upload cannot follow it).
std::optional<uint32_t> ServicePartSize(double value, uint32_t current);

struct PartRange {
    uint64_t offset = 0;
    uint32_t length = 0;
};
uint64_t PartCount(uint64_t fileSize, uint32_t partSize);
PartRange PartOf(uint64_t fileSize, uint32_t partSize, uint64_t number);  // number from 1

// A failed part: another attempt for no answer (status 0), 429, 5xx, and a
// refusal whose error code is "checksum_mismatch".
bool PartFailureRetryable(int status, std::string_view errorCode);
constexpr int kPartAttempts = 4;
// The wait after failed attempt i (from 0): 1, 4, 16 and 64 seconds.
uint32_t PartRetryWaitMs(int attempt);

// Percentages of bytes sent, each reported once.
class PercentReporter {
public:
    std::optional<int> Update(uint64_t done, uint64_t total);

private:
    int last_ = -1;
};

// "2025-03-07T09:05:41.123Z"
std::string UtcTimeStampText(int year, int month, int day, int hour, int minute, int second, int millisecond);

// The text shown after the service completed a capture in `state`, saying
// so when the capture's link was put on the clipboard.
std::wstring SavedToLibraryText(std::string_view state, bool linkCopied = false);

// Whether the link the service gave for a completed capture may be copied and
// opened: the characters of a URI only (RFC 3986: unreserved, reserved and
// "%" with two hex digits; no space, quote, angle bracket, brace, bar,
// caret, backtick or backslash), at most
// kLibraryLinkLimit characters, absolute, without user-info, and on the same
// origin (scheme, host and port) as `baseUrl`, the address every request goes
// to. Anything else is refused: another host or scheme, a host with a
// trailing dot or in another script, `javascript:` and the like.
constexpr size_t kLibraryLinkLimit = 2048;
bool IsLibraryLink(std::string_view link, std::wstring_view baseUrl);

// The captures waiting to be saved by themselves while another save runs,
// oldest first, at most kAutoSaveQueueLimit of them.
constexpr size_t kAutoSaveQueueLimit = 20;
class AutoSaveQueue {
public:
    enum class Offer { Queued, Full, FullAgain };
    // A new capture while a save runs. Full: not kept, and the user is told
    // once; FullAgain: not kept either, already told.
    Offer Add(const std::wstring& path);
    // The next capture to save, when there is one.
    std::optional<std::wstring> Next();
    void Clear();
    size_t Size() const { return waiting_.size(); }

private:
    std::vector<std::wstring> waiting_;
    bool told_ = false;
};

// uploads.txt: one "key|id" line per unfinished upload, oldest first.
std::string UploadKey(std::string_view pathUtf8, uint64_t size);
// Lines as text mode reads them: CR LF becomes a line end.
std::vector<std::string> UploadLines(std::string_view fileBytes);
std::string FindUploadIdIn(const std::vector<std::string>& lines, std::string_view key);
// The file's new contents: other lines kept in order, the key's line moved to
// the end with the new id, or dropped for an empty id. CR LF line ends.
std::string UploadsFileAfterSet(const std::vector<std::string>& lines, std::string_view key, std::string_view id);

// What the service is told when a capture is registered.
struct CaptureCreation {
    std::string fileStem;  // UTF-8, the file name without its extension
    CaptureKind kind{"", ""};
    uint64_t size = 0;
    std::string capturedAt;
    uint32_t width = 0, height = 0;
    bool isVideo = false;
    double duration = 0;
    bool hasAudio = false;
    std::string thumbnail;  // data URI or empty
};
// The creation request's JSON, its fields in a fixed order, optional ones left out.
std::string CreationBody(const CaptureCreation& capture);
// A capture id the program can put into a request path and uploads.txt.
bool UsableCaptureId(std::string_view id);
