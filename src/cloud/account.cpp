#include "cloud/account.h"

#include <windows.h>
#include <dpapi.h>

#include "cloud/utf8_core.h"
#include "common/unique_handle.h"
#include "storage/folders.h"
#include "storage/log.h"
#include "storage/whole_file.h"

namespace {

constexpr wchar_t kBlobDescription[] = L"NIRA Ostrel sign-in";

void Wipe(std::string& text) {
    if (!text.empty()) SecureZeroMemory(text.data(), text.size());
    text.clear();
}

bool ReadWholeFile(const std::wstring& path, std::string& bytes) {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    char chunk[4096];
    DWORD read = 0;
    for (;;) {
        if (!ReadFile(file.Get(), chunk, sizeof chunk, &read, nullptr)) return false;
        if (read == 0) return true;
        bytes.append(chunk, read);
    }
}

}  // namespace

std::wstring AccountFilePath() { return DataFolder() + L"\\account.dat"; }

std::mutex& AccountFileLock() {
    static std::mutex lock;
    return lock;
}

bool LoadAccount(Account& account) {
    std::string blob;
    if (!ReadWholeFile(AccountFilePath(), blob) || blob.empty()) return false;
    DATA_BLOB in{static_cast<DWORD>(blob.size()), reinterpret_cast<BYTE*>(blob.data())};
    DATA_BLOB out{};
    if (!CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out)) return false;
    std::string plaintext(reinterpret_cast<const char*>(out.pbData), out.cbData);
    SecureZeroMemory(out.pbData, out.cbData);
    LocalFree(out.pbData);
    const bool ok = SplitAccountPlaintext(plaintext, account);
    Wipe(plaintext);
    return ok;
}

bool SaveAccount(const Account& account) {
    std::string plaintext = AccountPlaintext(account);
    DATA_BLOB in{static_cast<DWORD>(plaintext.size()), reinterpret_cast<BYTE*>(plaintext.data())};
    DATA_BLOB blob{};
    const BOOL protectedOk =
        CryptProtectData(&in, kBlobDescription, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &blob);
    Wipe(plaintext);
    if (!protectedOk) return false;
    // Replaced, never rewritten in place: a reader at this moment still finds
    // a whole file, and so does the next start after a crash.
    const bool ok = ReplaceWholeFile(AccountFilePath(), blob.pbData, blob.cbData);
    LocalFree(blob.pbData);
    return ok;
}

void ForgetAccount() {
    std::lock_guard<std::mutex> hold(AccountFileLock());
    DeleteFileW(AccountFilePath().c_str());
    Log(L"cloud: signed out on this computer");
}

bool IsSignedIn() {
    Account account;
    const bool signedIn = LoadAccount(account);
    Wipe(account.token);
    return signedIn;
}

std::wstring SignedInEmail() {
    Account account;
    if (!LoadAccount(account)) return {};
    Wipe(account.token);
    return Utf8ToWide(account.email);
}

std::wstring SignedInWorkspace() {
    Account account;
    if (!LoadAccount(account)) return {};
    Wipe(account.token);
    return Utf8ToWide(account.workspace);
}
