#include <doctest.h>

#include "storage/step_trace_core.h"
#include "storage/storage_core.h"

TEST_CASE("the data folder: override, roaming folder, and over-long values") {
    CHECK(ChooseDataFolder(L"", L"C:\\Users\\u\\AppData\\Roaming") == L"C:\\Users\\u\\AppData\\Roaming\\NIRA Ostrel");
    CHECK(ChooseDataFolder(L"D:\\data", L"C:\\Roaming") == L"D:\\data");
    CHECK(ChooseDataFolder(L"", L"").empty());
    const std::wstring longest(kDataDirEnvBuffer - 1, L'x');
    CHECK(ChooseDataFolder(longest, L"C:\\R") == longest);
    CHECK(ChooseDataFolder(std::wstring(kDataDirEnvBuffer, L'x'), L"C:\\R") == L"C:\\R\\NIRA Ostrel");
    CHECK(CapturesFolderBelow(L"C:\\Users\\u\\Videos") == L"C:\\Users\\u\\Videos\\Ostrel");
    CHECK(CapturesFolderBelow(L"").empty());
}

TEST_CASE("fully qualified paths") {
    CHECK(IsFullyQualifiedPath(L"C:\\"));
    CHECK(IsFullyQualifiedPath(L"z:\\a\\b"));
    CHECK(IsFullyQualifiedPath(L"\\\\server\\share\\x"));
    CHECK_FALSE(IsFullyQualifiedPath(L""));
    CHECK_FALSE(IsFullyQualifiedPath(L"captures"));
    CHECK_FALSE(IsFullyQualifiedPath(L"C:captures"));
    CHECK_FALSE(IsFullyQualifiedPath(L"\\captures"));
    CHECK_FALSE(IsFullyQualifiedPath(L"\\\\"));
    CHECK_FALSE(IsFullyQualifiedPath(L"1:\\x"));
}

TEST_CASE("folders as typed are tidied") {
    CHECK(TidyFolderPath(L"  C:\\caps \t") == L"C:\\caps");
    CHECK(TidyFolderPath(L"C:\\caps \\") == L"C:\\caps");
    CHECK(TidyFolderPath(L"\\\\server\\share\\") == L"\\\\server\\share");
    CHECK(TidyFolderPath(L"D:\\") == L"D:\\");
    CHECK(TidyFolderPath(L" D:\\\\ ") == L"D:\\");
    CHECK(TidyFolderPath(L"   ").empty());
}

TEST_CASE("error texts: trimmed system sentence and code, or the bare code") {
    CHECK(HexCode(0x80070005u) == L"0x80070005");
    CHECK(HexCode(0xabcu) == L"0x00000ABC");
    CHECK(ComposeErrorText(L"Access is denied.\r\n", 0x80070005u) == L"Access is denied. (0x80070005)");
    CHECK(ComposeErrorText(L"Bad thing. \r\n  \r\n", 5) == L"Bad thing. (0x00000005)");
    CHECK(ComposeErrorText(L"", 0xDEADBEEFu) == L"error 0xDEADBEEF");
    CHECK(ComposeErrorText(L" \r\n\t ", 1) == L"error 0x00000001");
    // Only the end is trimmed; line breaks inside a message stay.
    CHECK(ComposeErrorText(L"One.\r\nTwo.\r\n", 2) == L"One.\r\nTwo. (0x00000002)");
}

TEST_CASE("log lines: stamp, two spaces, message, CR LF, byte-order mark only first") {
    CHECK(TimeStampText(2025, 3, 7, 9, 5, 41) == L"2025-03-07 09-05-41");
    CHECK(LogFileBytes(L"2025-03-07 09-05-41", L"hello", true) == "\xEF\xBB\xBF" "2025-03-07 09-05-41  hello\r\n");
    CHECK(LogFileBytes(L"S", L"hello", false) == "S  hello\r\n");
    CHECK(LogFileBytes(L"S", L"a\nb", false) == "S  a\r\nb\r\n");
    CHECK(LogFileBytes(L"S", L"Zo\u00eb", false) == "S  Zo\xC3\xAB\r\n");
}

TEST_CASE("a capture's steps, timed on a steady counter, make one line") {
    StepTrace trace(1000, 10000);  // 10 000 ticks a second
    trace.Step(L"device", 1125);
    trace.Step(L"first frame", 1129);  // under a millisecond
    trace.Step(L"encode", 1729);
    CHECK(trace.Line(L"Screenshot") == L"Screenshot steps: device 12 ms, first frame 0 ms, encode 60 ms, total 72 ms");
    CHECK(StepTrace(5, 0).Line(L"Recording") == L"Recording steps: total 0 ms");
}
