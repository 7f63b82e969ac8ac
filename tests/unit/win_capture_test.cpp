#include <doctest.h>

#include <algorithm>

#include "audio/audio_source.h"
#include "capture/capturer.h"
#include "storage/monitors.h"
#include "win_test_support.h"

TEST_CASE("partial files and reserved capture names on disk") {
    ScratchFolder scratch;
    WriteBytes(scratch / L"a.mp4.part", "x");
    WriteBytes(scratch / L"b.mp4", "x");
    CreateDirectoryW((scratch / L"c.mp4.part").c_str(), nullptr);
    CHECK(FindPartFiles(scratch.Path()) == std::vector<std::wstring>{scratch / L"a.mp4.part"});
    CHECK(FindPartFiles(scratch / L"missing").empty());
    // A folder that is no full path searches nowhere, not the working folder.
    wchar_t working[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, working);
    SetCurrentDirectoryW(scratch.Path().c_str());
    CHECK(FindPartFiles(L".").empty());
    SetCurrentDirectoryW(working);

    DWORD error = 0;
    const std::wstring first = ReserveCaptureName(scratch.Path(), L"Shot", L".png", error);
    const std::wstring second = ReserveCaptureName(scratch.Path(), L"Shot", L".png", error);
    CHECK(first == scratch / L"Shot.png");
    CHECK(second == scratch / L"Shot (2).png");
    CHECK(UniqueCaptureName(scratch.Path(), L"Shot", L".png") == scratch / L"Shot (3).png");
    ReleaseCaptureName(first);
    CHECK(GetFileAttributesW((first + L".part").c_str()) == INVALID_FILE_ATTRIBUTES);
    // A partial file with content is never released: it may be all that is left of a capture.
    WriteBytes(second + L".part", "content");
    ReleaseCaptureName(second);
    CHECK(GetFileAttributesW((second + L".part").c_str()) != INVALID_FILE_ATTRIBUTES);

    CHECK(ReserveCaptureName(scratch / L"no\\such", L"Shot", L".png", error).empty());
    CHECK(error == ERROR_PATH_NOT_FOUND);
}

TEST_CASE("the monitor list names the primary monitor") {
    const auto monitors = ListMonitors();
    REQUIRE(!monitors.empty());
    const auto primary = std::find_if(monitors.begin(), monitors.end(), [](const MonitorEntry& m) { return m.primary; });
    REQUIRE(primary != monitors.end());
    CHECK(primary->monitor == PrimaryMonitor());
    CHECK(primary->label.find(L", main)") != std::wstring::npos);
    CHECK(CaptureTimeStamp().size() == 19);
}

TEST_CASE("the stand-in capture keeps the newest frame under the capture contract") {
    REQUIRE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) );
    {
        std::wstring problem;
        D3D d3d;
        REQUIRE(d3d.Create(problem));
        Capturer capturer;
        Microsoft::WRL::ComPtr<ID3D11Texture2D> texture;
        int32_t width = 0, height = 0;
        CHECK_FALSE(capturer.WaitForFirstFrame(0));
        CHECK_FALSE(capturer.CopyLatestFrame(texture, width, height));
        REQUIRE(capturer.Start(d3d, PrimaryMonitor(), false, problem));
        REQUIRE(capturer.WaitForFirstFrame(3000));
        CHECK(capturer.WaitForFirstFrame(0));
        REQUIRE(capturer.CopyLatestFrame(texture, width, height));
        MONITORINFO info{};
        info.cbSize = sizeof info;
        GetMonitorInfoW(PrimaryMonitor(), &info);
        CHECK(width == ((info.rcMonitor.right - info.rcMonitor.left) & ~1));
        CHECK(height == ((info.rcMonitor.bottom - info.rcMonitor.top) & ~1));
        // The caller's texture is kept while the size stays.
        ID3D11Texture2D* const first = texture.Get();
        REQUIRE(capturer.CopyLatestFrame(texture, width, height));
        CHECK(texture.Get() == first);
        capturer.Stop();
        capturer.Stop();
        CHECK_FALSE(capturer.Running());
        CHECK_FALSE(capturer.CopyLatestFrame(texture, width, height));
    }
    CoUninitialize();
}

TEST_CASE("the microphone list names every capture endpoint") {
    REQUIRE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    for (const MicrophoneEntry& entry : ListMicrophones()) {
        CHECK_FALSE(entry.id.empty());
        CHECK_FALSE(entry.name.empty());
    }
    CoUninitialize();
}
