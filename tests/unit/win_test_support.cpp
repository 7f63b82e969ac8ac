#include "win_test_support.h"

#include <shellapi.h>

#include <atomic>
#include <vector>

#include "common/unique_handle.h"
#include "common/wide_format.h"

ScratchFolder::ScratchFolder() {
    static std::atomic<int> counter{0};
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    std::wstring base(temp);
    if (!base.empty() && base.back() == L'\\') base.pop_back();
    path_ = FormatWide(L"%s\\ostrel-unit-%lu-%d", base.c_str(), GetCurrentProcessId(), counter++);
    CreateDirectoryW(path_.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder() {
    std::wstring from = path_;
    from.push_back(L'\0');  // the shell wants a double-terminated list
    SHFILEOPSTRUCTW op{};
    op.wFunc = FO_DELETE;
    op.pFrom = from.c_str();
    op.fFlags = FOF_NO_UI;
    SHFileOperationW(&op);
}

std::string ReadBytes(const std::wstring& path) {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                  nullptr));
    if (!file) return {};
    std::string bytes;
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(file.Get(), chunk, sizeof chunk, &read, nullptr) && read > 0) bytes.append(chunk, read);
    return bytes;
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    if (file) WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

DataDirOverride::DataDirOverride(const wchar_t* value) {
    std::vector<wchar_t> buffer(32768);
    const DWORD length = GetEnvironmentVariableW(L"OSTREL_DATA_DIR", buffer.data(), static_cast<DWORD>(buffer.size()));
    hadOld_ = length > 0 || GetLastError() != ERROR_ENVVAR_NOT_FOUND;
    old_.assign(buffer.data(), length);
    SetEnvironmentVariableW(L"OSTREL_DATA_DIR", value);
}

DataDirOverride::~DataDirOverride() { SetEnvironmentVariableW(L"OSTREL_DATA_DIR", hadOld_ ? old_.c_str() : nullptr); }
