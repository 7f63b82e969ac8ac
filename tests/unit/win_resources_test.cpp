#include <doctest.h>

#include <set>
#include <vector>
#include <string>

#include "win_test_support.h"

// The programs are built into the same folder as this test.
namespace {

std::wstring BesideThisTest(const wchar_t* name) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self);
    return path.substr(0, path.find_last_of(L'\\') + 1) + name;
}

std::wstring VersionString(const std::vector<char>& block, const wchar_t* name) {
    std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), query.c_str(), &value, &length) || value == nullptr) return {};
    return std::wstring(static_cast<const wchar_t*>(value));
}

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width, height, colors, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
struct GroupIconHeader {
    WORD reserved, type, count;
};
#pragma pack(pop)

void CheckVersionBlock(const std::wstring& path, const wchar_t* description) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    REQUIRE(size > 0);
    std::vector<char> block(size);
    REQUIRE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));
    CHECK(VersionString(block, L"ProductName") == L"NIRA Ostrel");
    CHECK(VersionString(block, L"FileDescription") == description);
    CHECK(VersionString(block, L"CompanyName") == L"Vantil Orche LLC");
    CHECK(VersionString(block, L"FileVersion") == L"0.1.0");
    CHECK(VersionString(block, L"ProductVersion") == L"0.1.0");
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    REQUIRE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    CHECK(fixed->dwFileVersionMS == 0x00000001u);
    CHECK(fixed->dwFileVersionLS == 0u);
}

}  // namespace

TEST_CASE("both builds of the program carry the version block and icon group 101") {
    for (const wchar_t* exe : {L"OstrelWindows.exe", L"OstrelWindowsTest.exe"}) {
        const std::wstring path = BesideThisTest(exe);
        CAPTURE(std::string(path.begin(), path.end()));
        CheckVersionBlock(path, L"NIRA Ostrel for Windows: screen recorder and capture");

        HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        REQUIRE(module != nullptr);
        HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(101), MAKEINTRESOURCEW(14));  // RT_GROUP_ICON
        REQUIRE(resource != nullptr);
        const auto* group = static_cast<const GroupIconHeader*>(LockResource(LoadResource(module, resource)));
        REQUIRE(group != nullptr);
        REQUIRE(group->count == 6);
        const auto* entries = reinterpret_cast<const GroupIconEntry*>(group + 1);
        std::set<int> sizes;
        for (int i = 0; i < group->count; ++i) {
            CHECK(entries[i].bitCount == 32);
            sizes.insert(entries[i].width == 0 ? 256 : entries[i].width);
        }
        CHECK(sizes == std::set<int>{16, 24, 32, 48, 64, 256});
        HICON icon = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(101), IMAGE_ICON, 32, 32, 0));
        CHECK(icon != nullptr);
        if (icon) DestroyIcon(icon);
        FreeLibrary(module);
    }
}

TEST_CASE("the installer carries the shipping program byte for byte, its icon, version block and manifest") {
    const std::wstring path = BesideThisTest(L"OstrelSetup.exe");
    CheckVersionBlock(path, L"NIRA Ostrel for Windows: installer");

    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    REQUIRE(module != nullptr);
    auto resourceBytes = [module](int id, const wchar_t* type) {
        HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(id), type);
        if (resource == nullptr) return std::string();
        const char* bytes = static_cast<const char*>(LockResource(LoadResource(module, resource)));
        return bytes == nullptr ? std::string() : std::string(bytes, SizeofResource(module, resource));
    };
    const std::string program = resourceBytes(101, MAKEINTRESOURCEW(10));  // RT_RCDATA
    CHECK(program.size() > 100000);
    CHECK(program == ReadBytes(BesideThisTest(L"OstrelWindows.exe")));

    const std::string manifest = resourceBytes(1, MAKEINTRESOURCEW(24));  // RT_MANIFEST
    for (const char* part : {"name=\"NIRA.Ostrel.Setup\" version=\"0.1.0.0\"", "level=\"asInvoker\" uiAccess=\"false\"",
                             ">true/pm</dpiAware>", ">PerMonitorV2</dpiAwareness>",
                             "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>"}) {
        CAPTURE(part);
        CHECK(manifest.find(part) != std::string::npos);
    }

    CHECK_FALSE(resourceBytes(1, MAKEINTRESOURCEW(14)).empty());  // RT_GROUP_ICON
    HICON icon = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(1), IMAGE_ICON, 32, 32, 0));
    CHECK(icon != nullptr);
    if (icon) DestroyIcon(icon);
    FreeLibrary(module);
}
