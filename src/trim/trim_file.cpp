#include "trim/trim_file.h"

#include <windows.h>

#include <algorithm>
#include <new>
#include <vector>

#include "common/unique_handle.h"
#include "storage/folders.h"
#include "storage/log.h"
#include "storage/monitors.h"

namespace {

constexpr size_t kWriteBuffer = 1 << 20;
constexpr DWORD kLargestRead = 1u << 30;

std::wstring Sentence(const wchar_t* start, DWORD error) {
    return start + ErrorText(static_cast<uint32_t>(HRESULT_FROM_WIN32(error)));
}

class FileSource final : public trim::Source {
public:
    bool Open(const std::wstring& path, std::wstring& problem) {
        file_.Reset(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        LARGE_INTEGER size{};
        if (!file_ || !GetFileSizeEx(file_.Get(), &size)) {
            const DWORD error = GetLastError();
            problem = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                          ? L"The recording " + path + L" is not there any more."
                          : Sentence(L"The recording could not be opened: ", error);
            return false;
        }
        size_ = static_cast<uint64_t>(size.QuadPart);
        return true;
    }
    uint64_t Size() const override { return size_; }
    bool Read(uint64_t offset, void* out, size_t size) override {
        auto* at = static_cast<uint8_t*>(out);
        while (size > 0) {
            OVERLAPPED place{};
            place.Offset = static_cast<DWORD>(offset);
            place.OffsetHigh = static_cast<DWORD>(offset >> 32);
            const DWORD piece = static_cast<DWORD>(std::min<size_t>(size, kLargestRead));
            DWORD read = 0;
            if (!ReadFile(file_.Get(), at, piece, &read, &place) || read == 0) return false;
            at += read;
            offset += read;
            size -= read;
        }
        return true;
    }

private:
    UniqueHandle file_;
    uint64_t size_ = 0;
};

class FileSink final : public trim::Sink {
public:
    explicit FileSink(HANDLE file) : file_(file) {}
    bool Allocate() {
        try {
            buffer_.reserve(kWriteBuffer);
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }
    bool Write(const void* data, size_t size) override {
        const auto* p = static_cast<const uint8_t*>(data);
        while (size > 0) {
            const size_t piece = std::min(size, kWriteBuffer - buffer_.size());
            buffer_.insert(buffer_.end(), p, p + piece);
            p += piece;
            size -= piece;
            if (buffer_.size() == kWriteBuffer && !Flush()) return false;
        }
        return true;
    }
    bool Flush() {
        size_t at = 0;
        while (at < buffer_.size()) {
            DWORD written = 0;
            if (!WriteFile(file_, buffer_.data() + at, static_cast<DWORD>(buffer_.size() - at), &written, nullptr) ||
                written == 0) {
                error_ = GetLastError();
                return false;
            }
            at += written;
        }
        buffer_.clear();
        return true;
    }
    DWORD Error() const { return error_; }

private:
    HANDLE file_;
    std::vector<uint8_t> buffer_;
    DWORD error_ = ERROR_SUCCESS;
};

// "C:\x\Talk.mp4" gives "C:\x" and "Talk (trimmed)"; a trimmed copy trimmed
// again keeps one suffix.
void TrimmedName(const std::wstring& path, std::wstring& folder, std::wstring& stem) {
    const size_t slash = path.find_last_of(L"\\/");
    folder = slash == std::wstring::npos ? L"." : path.substr(0, slash);
    std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos && dot > 0) name.resize(dot);
    constexpr std::wstring_view kSuffix = L" (trimmed)";
    if (name.size() < kSuffix.size() || name.compare(name.size() - kSuffix.size(), kSuffix.size(), kSuffix) != 0)
        name += kSuffix;
    stem = name;
}

}  // namespace

bool ReadRecordingIndex(const std::wstring& path, trim::Movie& movie, std::wstring& problem) {
    FileSource source;
    return source.Open(path, problem) && trim::ReadMovie(source, movie, problem);
}

bool TrimRecording(const std::wstring& path, int64_t startMs, int64_t endMs, TrimOutcome& outcome,
                   std::wstring& problem) {
    outcome = TrimOutcome{};
    FileSource source;
    trim::Movie movie;
    if (!source.Open(path, problem) || !trim::ReadMovie(source, movie, problem)) return false;

    std::wstring folder, stem;
    TrimmedName(path, folder, stem);
    DWORD error = ERROR_SUCCESS;
    const std::wstring target = ReserveCaptureName(folder, stem, L".mp4", error);
    if (target.empty()) {
        problem = Sentence(L"The trimmed copy could not be made beside the recording: ", error);
        return false;
    }
    const std::wstring part = target + L".part";
    trim::CutMade made;
    bool cut = false;
    {
        UniqueHandle file(CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                      nullptr));
        if (!file) {
            problem = Sentence(L"The trimmed copy could not be made beside the recording: ", GetLastError());
        } else {
            FileSink sink(file.Get());
            cut = sink.Allocate() && trim::Cut(source, movie, startMs, endMs, sink, made, problem);
            if (cut && (!sink.Flush() || !FlushFileBuffers(file.Get()))) {
                cut = false;
                problem = trim::kUnwritable;
            }
            if (!cut && problem.empty()) problem = L"There was not enough memory to trim this recording.";
        }
    }
    if (cut && !MoveFileExW(part.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) {
        cut = false;
        problem = Sentence(L"The trimmed copy could not be given its name: ", GetLastError());
    }
    if (!cut) {
        DeleteFileW(part.c_str());
        Log(L"Trim of %s not made: %s", path.c_str(), problem.c_str());
        return false;
    }
    outcome.path = target;
    outcome.startMs = (made.startUs + 500) / 1000;
    outcome.endMs = (made.endUs + 500) / 1000;
    Log(L"Trimmed %s from %lld to %lld ms into %s", path.c_str(), static_cast<long long>(outcome.startMs),
        static_cast<long long>(outcome.endMs), target.c_str());
    return true;
}
