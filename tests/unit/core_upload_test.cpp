#include <doctest.h>

#include "cloud/upload_core.h"

TEST_CASE("capture kinds by extension") {
    auto kind = CaptureKindFor(L"photo.JPEG");
    REQUIRE(kind);
    CHECK(std::string(kind->mime) == "image/jpeg");
    CHECK(std::string(kind->kind) == "screenshot");
    CHECK(FileStem(L"photo.JPEG") == L"photo");
    CHECK(std::string(CaptureKindFor(L"Recording 1.mp4")->kind) == "video");
    CHECK(std::string(CaptureKindFor(L"a.b.GiF")->mime) == "image/gif");
    CHECK_FALSE(CaptureKindFor(L"notes.txt"));
    CHECK_FALSE(CaptureKindFor(L"mp4"));
    CHECK_FALSE(CaptureKindFor(L"x.mp4.part"));
    CHECK_FALSE(CaptureKindFor(L"x.\u0130mp4"));
}

TEST_CASE("part plan") {
    const uint64_t mib = 1 << 20;
    CHECK(PartCount(20 * mib, kDefaultPartSize) == 3);
    CHECK(PartOf(20 * mib, kDefaultPartSize, 1).length == 8 * mib);
    CHECK(PartOf(20 * mib, kDefaultPartSize, 3).offset == 16 * mib);
    CHECK(PartOf(20 * mib, kDefaultPartSize, 3).length == 4 * mib);
    CHECK(PartOf(20 * mib, kDefaultPartSize, 4).length == 0);

    const uint32_t size = *ServicePartSize(5242880, kDefaultPartSize);
    CHECK(PartCount(12'000'000, size) == 3);
    CHECK(PartOf(12'000'000, size, 2).length == 5'242'880);
    CHECK(PartOf(12'000'000, size, 3).length == 1'514'240);
    CHECK(PartCount(16 * mib, kDefaultPartSize) == 2);

    CHECK(*ServicePartSize(0.5, 1234) == 1234);
    CHECK(*ServicePartSize(-3, 1234) == 1234);
    CHECK(*ServicePartSize(1000.9, 1234) == 1000);
    CHECK(*ServicePartSize(4294967295.0, 1) == 4294967295u);
    CHECK_FALSE(ServicePartSize(4294967296.0, 1));
    CHECK_FALSE(ServicePartSize(1e300, 1));
}

TEST_CASE("which part failures are tried again, and the waits") {
    CHECK(PartFailureRetryable(0, ""));
    CHECK(PartFailureRetryable(429, ""));
    CHECK(PartFailureRetryable(500, "anything"));
    CHECK(PartFailureRetryable(503, ""));
    CHECK(PartFailureRetryable(422, "checksum_mismatch"));
    CHECK(PartFailureRetryable(400, "checksum_mismatch"));
    CHECK_FALSE(PartFailureRetryable(400, "bad_part"));
    CHECK_FALSE(PartFailureRetryable(404, ""));
    CHECK_FALSE(PartFailureRetryable(422, "Checksum_mismatch"));
    CHECK(PartRetryWaitMs(0) + PartRetryWaitMs(1) + PartRetryWaitMs(2) + PartRetryWaitMs(3) == 85'000u);
}

TEST_CASE("percentages are reported once each") {
    const uint64_t total = 100ull << 20;
    PercentReporter reporter;
    std::vector<int> seen;
    for (uint64_t n = 1; n <= PartCount(total, kDefaultPartSize); ++n) {
        const PartRange part = PartOf(total, kDefaultPartSize, n);
        if (auto percent = reporter.Update(part.offset + part.length, total)) seen.push_back(*percent);
    }
    CHECK(seen == std::vector<int>{8, 16, 24, 32, 40, 48, 56, 64, 72, 80, 88, 96, 100});
    CHECK_FALSE(reporter.Update(total, total));
    CHECK_FALSE(reporter.Update(0, 0));
}

TEST_CASE("texts of the upload") {
    CHECK(UtcTimeStampText(2025, 3, 7, 9, 5, 41, 7) == "2025-03-07T09:05:41.007Z");
    CHECK(SavedToLibraryText("ready") == L"Saved to your workspace library.");
    CHECK(SavedToLibraryText("") == L"Saved. It's being safety-checked and will show in the library in a moment.");
    CHECK(SavedToLibraryText("Ready") == SavedToLibraryText("processing"));
    CHECK(SavedToLibraryText("ready", true) == L"Saved to your workspace library. The link is on the clipboard.");
    CHECK(SavedToLibraryText("processing", true) ==
          L"Saved. It's being safety-checked and will show in the library in a moment. The link is on the clipboard.");
}

TEST_CASE("a capture's link is taken only on the service's own origin") {
    const std::wstring service = L"https://ostrel.nira.app", local = L"http://127.0.0.1:8123/base";
    const std::string page = "https://ostrel.nira.app/app/captures/c1?x=1#top";
    std::string longest = "https://ostrel.nira.app/";
    longest.resize(kLibraryLinkLimit, 'a');
    for (const std::string& good : {page, std::string("HTTPS://Ostrel.NIRA.app/app/c1"),
                                    std::string("https://ostrel.nira.app:443/app/c1"),
                                    std::string("https://ostrel.nira.app"), longest})
        CHECK_MESSAGE(IsLibraryLink(good, service), good);
    CHECK(IsLibraryLink("http://127.0.0.1:8123/app/captures/c1", local));
    CHECK(IsLibraryLink("http://127.0.0.1:8123", local));
    CHECK(IsLibraryLink("https://ostrel.nira.app/app/c1?a=1&b=%7E#x~(y)!*'+,;=:@", service));
    const std::string tooLong = longest + "a";
    const std::string withNul("https://ostrel.nira.app/a\0b", 27);
    for (const std::string& bad :
         {tooLong, withNul, std::string(), std::string("javascript:alert(1)"), std::string("JavaScript://ostrel.nira.app/%0aalert(1)"),
          std::string("http://ostrel.nira.app/app/c1"), std::string("https://ostrel.nira.app:8443/app/c1"),
          std::string("https://ostrel.nira.app:/app"), std::string("https://ostrel.nira.app:99999/app"),
          std::string("https://ostrel.nira.app./app/c1"), std::string("https://evil.example/app/c1"),
          std::string("https://ostrel.nira.app.evil.example/"), std::string("https://ostrel.nira.app@evil.example/"),
          std::string("https://user:pw@ostrel.nira.app/app/c1"), std::string("https://evil.example\\@ostrel.nira.app/"),
          std::string("https://xn--ostrl-3ve.nira.app/app"), std::string("https://ostr\xd0\xb5l.nira.app/app"),
          std::string("https://ostrel.nira.app/a b"), std::string("https://ostrel.nira.app/\ta"),
          std::string("https://ostrel.nira.app/\x7f"), std::string("//ostrel.nira.app/app"), std::string("/app/c1"),
          std::string("https:ostrel.nira.app/app"), std::string("file:///C:/Windows/notepad.exe"),
          std::string("https://ostrel.nira.app/a\" --x"), std::string("https://ostrel.nira.app/<b>"),
          std::string("https://ostrel.nira.app/{a}"), std::string("https://ostrel.nira.app/a|b"),
          std::string("https://ostrel.nira.app/a^b"), std::string("https://ostrel.nira.app/a`b"),
          std::string("https://ostrel.nira.app/a%2"), std::string("https://ostrel.nira.app/a%zz")})
        CHECK_FALSE_MESSAGE(IsLibraryLink(bad, service), bad);
    // The test server's links are on its own origin: its scheme, address and port.
    for (const char* bad : {"http://127.0.0.1:8124/app", "https://127.0.0.1:8123/app", "http://127.0.0.2:8123/app",
                            "http://localhost:8123/app", "https://ostrel.nira.app/app"})
        CHECK_FALSE_MESSAGE(IsLibraryLink(bad, local), bad);
}

TEST_CASE("captures wait to be saved in order, at most twenty, with one notice beyond") {
    AutoSaveQueue queue;
    CHECK_FALSE(queue.Next());
    for (int n = 0; n < 20; ++n) CHECK(queue.Add(L"c" + std::to_wstring(n)) == AutoSaveQueue::Offer::Queued);
    CHECK(queue.Add(L"c20") == AutoSaveQueue::Offer::Full);
    CHECK(queue.Add(L"c21") == AutoSaveQueue::Offer::FullAgain);
    CHECK(queue.Next() == std::wstring(L"c0"));
    // Room again, but the user was told already until the queue has run dry.
    CHECK(queue.Add(L"c22") == AutoSaveQueue::Offer::Queued);
    CHECK(queue.Add(L"c23") == AutoSaveQueue::Offer::FullAgain);
    for (int n = 1; n < 20; ++n) CHECK(queue.Next() == L"c" + std::to_wstring(n));
    CHECK(queue.Next() == std::wstring(L"c22"));
    CHECK_FALSE(queue.Next());
    for (int n = 0; n < 20; ++n) queue.Add(L"d");
    CHECK(queue.Add(L"d") == AutoSaveQueue::Offer::Full);
    queue.Clear();
    CHECK(queue.Size() == 0);
    for (int n = 0; n < 20; ++n) queue.Add(L"e");
    CHECK(queue.Add(L"e") == AutoSaveQueue::Offer::Full);
}

TEST_CASE("uploads.txt bookkeeping") {
    const std::string small = UploadKey("C:\\a.mp4", 10), large = UploadKey("C:\\a.mp4", 100);
    CHECK(small == "C:\\a.mp4|10");
    auto lines = UploadLines("C:\\a.mp4|10|cap_1\r\nC:\\b.png|5|cap_2\r\n\r\nC:\\c.gif|7|cap_3");
    REQUIRE(lines.size() == 4);
    CHECK(FindUploadIdIn(lines, small) == "cap_1");
    CHECK(FindUploadIdIn(lines, large).empty());
    CHECK(FindUploadIdIn(lines, UploadKey("C:\\a.mp4", 1)).empty());  // "10" is not "1"
    CHECK(FindUploadIdIn(lines, "C:\\c.gif|7") == "cap_3");

    // Set moves the entry to the end; an empty id removes it; blank lines go.
    CHECK(UploadsFileAfterSet(lines, small, "cap_9") ==
          "C:\\b.png|5|cap_2\r\nC:\\c.gif|7|cap_3\r\nC:\\a.mp4|10|cap_9\r\n");
    CHECK(UploadsFileAfterSet(lines, small, "") == "C:\\b.png|5|cap_2\r\nC:\\c.gif|7|cap_3\r\n");
    CHECK(UploadsFileAfterSet(lines, large, "cap_4").find("C:\\a.mp4|10|cap_1\r\n") == 0);
    CHECK(UploadsFileAfterSet({}, small, "x") == "C:\\a.mp4|10|x\r\n");
    CHECK(UploadLines("").empty());
}

TEST_CASE("creation body: field order and optional groups") {
    CaptureCreation c;
    c.fileStem = "Recording \"1\"";
    c.kind = *CaptureKindFor(L"x.mp4");
    c.size = 20971520;
    c.capturedAt = "2025-03-07T09:05:41.000Z";
    c.width = 1280;
    c.height = 720;
    c.isVideo = true;
    c.duration = 12.345;
    c.hasAudio = true;
    c.thumbnail = "data:image/jpeg;base64,AAAA";
    CHECK(CreationBody(c) ==
          "{\"filename\":\"Recording \\\"1\\\"\",\"mime\":\"video/mp4\",\"kind\":\"video\",\"source\":\"windows\","
          "\"size_bytes\":20971520,\"captured_at\":\"2025-03-07T09:05:41.000Z\",\"width\":1280,\"height\":720,"
          "\"duration_s\":12.35,\"has_audio\":true,\"thumbnail\":\"data:image/jpeg;base64,AAAA\"}");

    // A picture without a readable size or thumbnail, and a video without a duration.
    c.kind = *CaptureKindFor(L"photo.JPEG");
    c.fileStem = "photo";
    c.isVideo = false;
    c.width = 0;
    c.thumbnail.clear();
    CHECK(CreationBody(c) ==
          "{\"filename\":\"photo\",\"mime\":\"image/jpeg\",\"kind\":\"screenshot\",\"source\":\"windows\","
          "\"size_bytes\":20971520,\"captured_at\":\"2025-03-07T09:05:41.000Z\"}");
    c.isVideo = true;
    c.duration = 0;
    c.width = 4;
    CHECK(CreationBody(c).find("duration_s") == std::string::npos);
}

TEST_CASE("capture ids that can go into a request path") {
    CHECK(UsableCaptureId("cap_0123abcd"));
    CHECK(UsableCaptureId("a.b-c~d"));
    CHECK_FALSE(UsableCaptureId(""));
    CHECK_FALSE(UsableCaptureId(".."));
    CHECK_FALSE(UsableCaptureId("a/../b"));
    CHECK_FALSE(UsableCaptureId("a b"));
    CHECK_FALSE(UsableCaptureId("a\nb"));
    CHECK_FALSE(UsableCaptureId("a?x=1"));
}
