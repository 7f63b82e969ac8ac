#include "cloud/upload.h"

#include <windows.h>

#include <set>
#include <vector>

#include "storage/storage_core.h"
#include "cloud/capture_facts.h"
#include "cloud/http_client.h"
#include "cloud/upload_core.h"
#include "cloud/uploads_file.h"
#include "cloud/utf8_core.h"
#include "common/unique_handle.h"
#include "storage/log.h"

namespace {

constexpr wchar_t kPartTooLarge[] = L"Ostrel's server asked for parts larger than this computer can send.";
constexpr wchar_t kNoCaptureId[] = L"Ostrel's server didn't register the capture. Please try again.";
constexpr wchar_t kUnreadable[] = L"The capture couldn't be read to the end.";

// The id goes into request paths as it is: each byte one character.
std::wstring Widened(const std::string& id) { return std::wstring(id.begin(), id.end()); }

std::string CapturedAt(const FILETIME& created, const FILETIME& written) {
    const FILETIME& time = created.dwHighDateTime != 0 ? created : written;
    SYSTEMTIME utc{};
    if (!FileTimeToSystemTime(&time, &utc)) return UtcTimeStampText(1601, 1, 1, 0, 0, 0, 0);
    return UtcTimeStampText(utc.wYear, utc.wMonth, utc.wDay, utc.wHour, utc.wMinute, utc.wSecond, utc.wMilliseconds);
}

// The parts an unfinished upload already has, when it can go on.
bool ResumeState(const std::string& id, uint32_t& partSize, std::set<uint64_t>& received) {
    HttpResponse response;
    std::wstring ignored;
    if (!CallServiceJson(L"GET", L"/api/captures/" + Widened(id) + L"/upload", std::string(), true, response, ignored))
        return false;
    if (JsonMember(response.json, "state").kind != JsonKind::String ||
        JsonMember(response.json, "state").text != "uploading")
        return false;
    const JsonValue& size = JsonMember(response.json, "part_size");
    if (size.kind == JsonKind::Number) {
        const std::optional<uint32_t> taken = ServicePartSize(size.number, partSize);
        if (!taken) return false;
        partSize = *taken;
    }
    for (const JsonValue& item : JsonMember(response.json, "received").items) {
        const JsonValue& part = JsonMember(item, "part");
        if (part.kind == JsonKind::Number && part.number >= 1 && part.number < 2147483648.0)
            received.insert(static_cast<uint64_t>(part.number));
    }
    return true;
}

bool ReadFully(HANDLE file, uint8_t* buffer, uint32_t length) {
    for (uint32_t done = 0; done < length;) {
        DWORD read = 0;
        if (!ReadFile(file, buffer + done, length - done, &read, nullptr) || read == 0) return false;
        done += read;
    }
    return true;
}

// One part, with up to four attempts for failures worth another try.
bool SendPart(const std::string& id, uint64_t number, const uint8_t* bytes, uint32_t length, std::wstring& message) {
    // A part never goes without its hash; one that cannot be worked out is a
    // part that could not be read.
    const std::string hash = Sha256Hex(bytes, length);
    if (hash.empty()) {
        message = kUnreadable;
        return false;
    }
    const std::wstring path = L"/api/captures/" + Widened(id) + L"/parts/" + std::to_wstring(number);
    for (int attempt = 0; attempt < kPartAttempts; ++attempt) {
        HttpResponse response;
        if (CallService(L"PUT", path, bytes, length, L"application/octet-stream", hash, true, response, message))
            return true;
        const JsonValue& code = JsonMember(JsonMember(response.json, "error"), "code");
        if (!PartFailureRetryable(response.status, code.kind == JsonKind::String ? code.text : std::string()))
            return false;
        Sleep(PartRetryWaitMs(attempt));
    }
    return false;
}

}  // namespace

bool UploadCapture(const std::wstring& path, const UploadProgress& progress, std::wstring& state,
                   std::wstring& message, std::wstring* link) {
    const std::wstring fileName(PathFileName(path));
    const std::optional<CaptureKind> kind = CaptureKindFor(fileName);
    if (!kind) {
        message = L"Ostrel saves MP4 recordings and PNG, JPEG, WebP or GIF pictures.";
        return false;
    }
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    if (!file || !GetFileInformationByHandle(file.Get(), &information)) {
        message = L"The capture couldn't be opened. It may have been moved or deleted.";
        return false;
    }
    const uint64_t size = (static_cast<uint64_t>(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
    if (size == 0) {
        message = L"This capture is empty.";
        return false;
    }

    const std::string key = UploadKey(WideToUtf8(path), size);
    std::string id = FindUploadId(key);
    uint32_t partSize = kDefaultPartSize;
    std::set<uint64_t> received;
    if (!id.empty() && (!UsableCaptureId(id) || !ResumeState(id, partSize, received))) {
        id.clear();
        partSize = kDefaultPartSize;
        received.clear();
    }

    if (id.empty()) {
        const bool isVideo = std::string(kind->kind) == "video";
        const CaptureFactsResult facts = CaptureFacts(path, isVideo);
        CaptureCreation creation;
        creation.fileStem = WideToUtf8(FileStem(fileName));
        creation.kind = *kind;
        creation.size = size;
        creation.capturedAt = CapturedAt(information.ftCreationTime, information.ftLastWriteTime);
        creation.width = facts.width;
        creation.height = facts.height;
        creation.isVideo = isVideo;
        creation.duration = facts.duration;
        creation.hasAudio = facts.hasAudio;
        creation.thumbnail = MakeThumbnail(path);
        HttpResponse response;
        if (!CallServiceJson(L"POST", L"/api/captures/uploads", CreationBody(creation), true, response, message))
            return false;
        id = JsonMember(response.json, "capture_id").text;
        if (!UsableCaptureId(id)) {
            message = kNoCaptureId;
            return false;
        }
        const JsonValue& served = JsonMember(response.json, "part_size");
        if (served.kind == JsonKind::Number) {
            const std::optional<uint32_t> taken = ServicePartSize(served.number, partSize);
            if (!taken) {
                message = kPartTooLarge;
                return false;
            }
            partSize = *taken;
        }
        SetUploadId(key, id);
    }

    const uint64_t count = PartCount(size, partSize);
    std::vector<uint8_t> buffer;
    try {
        buffer.assign(static_cast<size_t>(size < partSize ? size : partSize), 0);
    } catch (const std::bad_alloc&) {
        message = kPartTooLarge;
        return false;
    }
    uint64_t done = 0;
    for (uint64_t number = 1; number <= count; ++number) {
        const PartRange part = PartOf(size, partSize, number);
        if (!ReadFully(file.Get(), buffer.data(), part.length)) {
            message = kUnreadable;
            return false;
        }
        if (received.count(number) == 0 && !SendPart(id, number, buffer.data(), part.length, message)) return false;
        done += part.length;
        if (progress) progress(done, size);
    }

    HttpResponse response;
    if (!CallServiceJson(L"POST", L"/api/captures/" + Widened(id) + L"/complete", "{}", true, response, message))
        return false;
    SetUploadId(key, std::string());
    state = JsonText(JsonMember(response.json, "state"));
    Log(L"cloud: saved %s (%llu bytes, %s)", Utf8ToWide(id).c_str(), static_cast<unsigned long long>(size),
        state.c_str());
    const JsonValue& url = JsonMember(response.json, "url");
    if (url.kind == JsonKind::String) {
        // Only a page of the library itself is ever copied or opened.
        if (IsLibraryLink(url.text, ServiceBaseUrl())) {
            if (link != nullptr) *link = Utf8ToWide(url.text);
        } else {
            Log(L"cloud: refused the link given for %s: it is not a page of the library", Utf8ToWide(id).c_str());
        }
    }
    return true;
}
