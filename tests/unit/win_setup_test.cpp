#include <doctest.h>

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "setup/setup.h"

namespace {

// A key of our own below HKEY_CURRENT_USER, removed with its values afterwards.
class ScratchKey {
public:
    ScratchKey() {
        RegDeleteTreeW(HKEY_CURRENT_USER, kPath);
        RegCreateKeyExW(HKEY_CURRENT_USER, kPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr);
    }
    ~ScratchKey() {
        if (key_ != nullptr) RegCloseKey(key_);
        RegDeleteTreeW(HKEY_CURRENT_USER, kPath);
    }
    HKEY Get() const { return key_; }

private:
    static constexpr wchar_t kPath[] = L"Software\\NIRAOstrelUnitTests\\Setup";
    HKEY key_ = nullptr;
};

}  // namespace

TEST_CASE("registration values are stored with their terminators and read back") {
    ScratchKey key;
    REQUIRE(key.Get() != nullptr);
    const InstallLayout layout = MakeInstallLayout(L"C:\\P\\NIRA Ostrel", L"C:\\Menu");
    WriteRegValues(key.Get(), RegistrationValues(layout, L"NIRAOstrel", L"https://example.test", 657408));

    for (const RegistryValue& value : RegistrationValues(layout, L"NIRAOstrel", L"https://example.test", 657408)) {
        CAPTURE(std::string(value.name.begin(), value.name.end()));
        DWORD type = 0;
        DWORD bytes = 0;
        REQUIRE(RegQueryValueExW(key.Get(), value.name.c_str(), nullptr, &type, nullptr, &bytes) == ERROR_SUCCESS);
        if (value.kind == RegistryValue::Kind::String) {
            CHECK(type == REG_SZ);
            CHECK(bytes == 2 * value.text.size() + 2);
            CHECK(ReadRegString(key.Get(), value.name.c_str()) == value.text);
        } else {
            CHECK(type == REG_DWORD);
            CHECK(bytes == 4);
            CHECK(ReadRegString(key.Get(), value.name.c_str()).empty());
        }
    }
    CHECK(ReadRegString(key.Get(), L"Missing").empty());
}

TEST_CASE("stored texts that fill the read buffer") {
    ScratchKey key;
    REQUIRE(key.Get() != nullptr);
    const std::wstring text(1024, L'x');
    // 1023 characters and the terminator fill the 2048 bytes exactly.
    RegSetValueExW(key.Get(), L"Fits", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str() + 1), 2048);
    CHECK(ReadRegString(key.Get(), L"Fits") == text.substr(1));
    // 2048 bytes without a terminator may be a longer text cut short: none is
    // taken, as with a value that does not fit at all.
    RegSetValueExW(key.Get(), L"Unended", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), 2048);
    CHECK(ReadRegString(key.Get(), L"Unended").empty());
    RegSetValueExW(key.Get(), L"Over", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), 2050);
    CHECK(ReadRegString(key.Get(), L"Over").empty());
    // A shorter text without its terminator, and an odd byte count, keep their whole characters.
    RegSetValueExW(key.Get(), L"Odd", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"abc"), 5);
    CHECK(ReadRegString(key.Get(), L"Odd") == L"ab");
}

TEST_CASE("the installer splits a command line as the shell does, but for a folder's closing backslash") {
    for (const wchar_t* line : {L"\"C:\\P Q\\setup.exe\" /S /dir \"C:\\A B\" x", L"setup a\\\\b \"c d\" e\\\"f \"g\\\\\" h\"i j\"k",
                                L"setup \"\" /dir \"D:\\\\\" /regkey K\t/parent 12", L"setup a\\\"b c\\\\\\\"d"}) {
        int count = 0;
        LPWSTR* argv = CommandLineToArgvW(line, &count);
        REQUIRE(argv != nullptr);
        const std::vector<std::wstring> shell(argv, argv + count);
        LocalFree(argv);
        CHECK(SplitSetupCommandLine(line) == shell);
    }
}
