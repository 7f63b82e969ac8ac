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
