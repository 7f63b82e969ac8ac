#include "cloud/uploads_file.h"

#include <windows.h>

#include "cloud/upload_core.h"
#include "common/unique_handle.h"
#include "storage/folders.h"

namespace {

std::string ReadUploadsFile() {
    UniqueHandle file(CreateFileW(UploadsFilePath().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return {};
    LARGE_INTEGER size{};
    // Far beyond any real list; a larger file is not ours to read whole.
    if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart > (64 << 20)) return {};
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!bytes.empty() && !ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr))
        return {};
    bytes.resize(read);
    return bytes;
}

}  // namespace

std::wstring UploadsFilePath() { return DataFolder() + L"\\uploads.txt"; }

std::string FindUploadId(const std::string& key) { return FindUploadIdIn(UploadLines(ReadUploadsFile()), key); }

void SetUploadId(const std::string& key, const std::string& id) {
    const std::string text = UploadsFileAfterSet(UploadLines(ReadUploadsFile()), key, id);
    UniqueHandle file(CreateFileW(UploadsFilePath().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    DWORD written = 0;
    WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}
