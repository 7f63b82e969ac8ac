#include <doctest.h>

#include <thread>
#include <vector>

#include "storage/folders.h"
#include "storage/log.h"
#include "win_test_support.h"

namespace {

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool EndsWith(const std::wstring& text, const std::wstring& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

TEST_CASE("the data folder comes from OSTREL_DATA_DIR and is created with its parents") {
    ScratchFolder scratch;
    const std::wstring nested = scratch / L"one\\two\\data";
    DataDirOverride env(nested.c_str());
    CHECK(DataFolder() == nested);
    CHECK(IsFolder(nested));
}

TEST_CASE("without a usable OSTREL_DATA_DIR the roaming folder holds NIRA Ostrel") {
    std::wstring roaming;
    {
        DataDirOverride unset(nullptr);
        roaming = DataFolder();
    }
    CHECK(EndsWith(roaming, L"\\NIRA Ostrel"));
    CHECK(IsFolder(roaming));
    {
        DataDirOverride empty(L"");
        CHECK(DataFolder() == roaming);
    }
    {
        const std::wstring tooLong = L"C:\\" + std::wstring(300, L'x');
        DataDirOverride over(tooLong.c_str());
        CHECK(DataFolder() == roaming);
    }
}

TEST_CASE("EnsureFolder and FreeBytes") {
    ScratchFolder scratch;
    CHECK(EnsureFolder(scratch.Path()));
    CHECK(EnsureFolder(scratch / L"a\\b\\c"));
    CHECK(IsFolder(scratch / L"a\\b\\c"));
    CHECK_FALSE(EnsureFolder(L""));
    CHECK_FALSE(EnsureFolder(L"relative\\folder"));
    WriteBytes(scratch / L"file.txt", "x");
    CHECK_FALSE(EnsureFolder(scratch / L"file.txt"));
    CHECK_FALSE(EnsureFolder(scratch / L"file.txt\\below"));

    CHECK(FreeBytes(scratch / L"missing\\folder") == UINT64_MAX);
    const uint64_t free = FreeBytes(scratch.Path());
    CHECK(free > 0);
    CHECK(free < UINT64_MAX);
}

TEST_CASE("ErrorText gives the system's sentence or the bare code") {
    const std::wstring denied = ErrorText(0x80070005u);
    CHECK(EndsWith(denied, L". (0x80070005)"));
    CHECK(denied.find(L"\r") == std::wstring::npos);
    CHECK(denied.find(L"\n") == std::wstring::npos);
    CHECK(ErrorText(0xDEADBEEFu) == L"error 0xDEADBEEF");
}

TEST_CASE("the log: byte-order mark on a new file only, CR LF, stamp and message") {
    ScratchFolder scratch;
    DataDirOverride env(scratch.Path().c_str());
    Log(L"first %s %d", L"line \u00e9\u4e2d", 7);
    Log(L"second");
    const std::string bytes = ReadBytes(scratch / L"ostrel.log");
    REQUIRE(bytes.size() > 3);
    CHECK(bytes.compare(0, 3, "\xEF\xBB\xBF") == 0);
    CHECK(bytes.find("\xEF\xBB\xBF", 3) == std::string::npos);
    const std::string body = bytes.substr(3);
    // "YYYY-MM-DD HH-MM-SS  message\r\n"
    REQUIRE(body.size() > 21);
    CHECK(body[4] == '-');
    CHECK(body[10] == ' ');
    CHECK(body[13] == '-');
    CHECK(body[16] == '-');
    CHECK(body.compare(19, 2, "  ") == 0);
    CHECK(body.find("  first line \xC3\xA9\xE4\xB8\xAD 7\r\n") == 19);
    CHECK(body.find("  second\r\n") != std::string::npos);
    CHECK(body.size() >= 2);
    CHECK(body.compare(body.size() - 2, 2, "\r\n") == 0);

    // A file with content gets no mark; an emptied one gets it again.
    WriteBytes(scratch / L"ostrel.log", "old\r\n");
    Log(L"third");
    CHECK(ReadBytes(scratch / L"ostrel.log").compare(0, 5, "old\r\n") == 0);
    CHECK(ReadBytes(scratch / L"ostrel.log").find("\xEF\xBB\xBF") == std::string::npos);
    WriteBytes(scratch / L"ostrel.log", "");
    Log(L"fourth");
    CHECK(ReadBytes(scratch / L"ostrel.log").compare(0, 3, "\xEF\xBB\xBF") == 0);
}

TEST_CASE("the log cuts long messages at 1023 characters and survives an unwritable folder") {
    ScratchFolder scratch;
    {
        DataDirOverride env(scratch.Path().c_str());
        const std::wstring longMessage(5000, L'm');
        Log(L"%s", longMessage.c_str());
        const std::string bytes = ReadBytes(scratch / L"ostrel.log");
        CHECK(bytes.find(std::string(1023, 'm') + "\r\n") != std::string::npos);
        CHECK(bytes.find(std::string(1024, 'm')) == std::string::npos);
    }
    WriteBytes(scratch / L"blocker", "x");
    const std::wstring impossible = scratch / L"blocker\\data";
    DataDirOverride env(impossible.c_str());
    Log(L"lost");  // must neither crash nor throw
    CHECK(ReadBytes(impossible + L"\\ostrel.log").empty());
}

TEST_CASE("lines logged from several threads never interleave") {
    ScratchFolder scratch;
    DataDirOverride env(scratch.Path().c_str());
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 25; ++i) Log(L"thread %d line %d %s", t, i, std::wstring(200, L'a' + t).c_str());
        });
    for (auto& thread : threads) thread.join();
    const std::string bytes = ReadBytes(scratch / L"ostrel.log").substr(3);
    size_t lines = 0;
    size_t start = 0;
    while (start < bytes.size()) {
        const size_t end = bytes.find("\r\n", start);
        REQUIRE(end != std::string::npos);
        const std::string line = bytes.substr(start, end - start);
        const char letter = line.back();
        CHECK(line.find(std::string(200, letter)) != std::string::npos);
        ++lines;
        start = end + 2;
    }
    CHECK(lines == 100);
}
