#include "cloud/uploads_file.h"

#include <windows.h>

#include <optional>

#include "cloud/upload_core.h"
#include "common/unique_handle.h"
#include "storage/folders.h"
#include "storage/whole_file.h"

namespace {

// The tray program and "--selftest-save" may save at the same time: every
// reader and writer of uploads.txt in any of our processes holds this.
constexpr wchar_t kUploadsMutex[] = L"Local\\NIRAOstrelUploadsFile";
constexpr DWORD kLockWaitMs = 10000;
// Another program (a backup, a scanner) may hold the file a moment.
constexpr int kReadAttempts = 40;
constexpr DWORD kReadPauseMs = 50;

class UploadsFileLock {
public:
    UploadsFileLock() : mutex_(CreateMutexW(nullptr, FALSE, kUploadsMutex)) {
        if (!mutex_) return;
        const DWORD waited = WaitForSingleObject(mutex_.Get(), kLockWaitMs);
        // An abandoned lock is ours now; the file itself is whole, since it is only ever replaced.
        held_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    }
    ~UploadsFileLock() {
        if (held_) ReleaseMutex(mutex_.Get());
    }
    UploadsFileLock(const UploadsFileLock&) = delete;
    UploadsFileLock& operator=(const UploadsFileLock&) = delete;
    bool Held() const { return held_; }

private:
    UniqueHandle mutex_;
    bool held_ = false;
};

// The file's bytes, empty when there is no file; none when it exists but
// cannot be read, which must never lead to writing it without its entries.
std::optional<std::string> ReadUploadsFile() {
    for (int attempt = 1;; ++attempt) {
        UniqueHandle file(CreateFileW(UploadsFilePath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            const DWORD error = GetLastError();
            if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return std::string();
            if ((error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION) || attempt == kReadAttempts)
                return std::nullopt;
            Sleep(kReadPauseMs);
            continue;
        }
        LARGE_INTEGER size{};
        // Far beyond any real list; a larger file is not ours to read whole.
        if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart > (64 << 20)) return std::nullopt;
        std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
        DWORD read = 0;
        if (!bytes.empty() && !ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr))
            return std::nullopt;
        bytes.resize(read);
        return bytes;
    }
}

}  // namespace

std::wstring UploadsFilePath() { return DataFolder() + L"\\uploads.txt"; }

std::string FindUploadId(const std::string& key) {
    // Without the lock the file is still whole: it is only ever replaced.
    UploadsFileLock lock;
    const std::optional<std::string> bytes = ReadUploadsFile();
    return bytes ? FindUploadIdIn(UploadLines(*bytes), key) : std::string();
}

void SetUploadId(const std::string& key, const std::string& id) {
    UploadsFileLock lock;
    if (!lock.Held()) return;
    const std::optional<std::string> bytes = ReadUploadsFile();
    if (!bytes) return;
    const std::string text = UploadsFileAfterSet(UploadLines(*bytes), key, id);
    ReplaceWholeFile(UploadsFilePath(), text.data(), static_cast<uint32_t>(text.size()));
}
