#pragma once
// What the library shows of a capture before its bytes arrive: the picture
// size, a video's length and sound, and a small JPEG thumbnail. Best effort:
// whatever cannot be read stays zero or empty. The calling thread must have
// joined a COM apartment.
#include <cstdint>
#include <string>
#include <vector>

struct CaptureFactsResult {
    uint32_t width = 0;
    uint32_t height = 0;
    double duration = 0;  // seconds, videos only
    bool hasAudio = false;
};

CaptureFactsResult CaptureFacts(const std::wstring& path, bool isVideo);
// "data:image/jpeg;base64,..." of at most 80,000 bytes, or empty.
std::string MakeThumbnail(const std::wstring& path);
// Standard base64 with padding, no line breaks.
std::string Base64Text(const uint8_t* bytes, size_t size);
// SHA-256 as 64 lowercase hexadecimal digits; empty when the system provider fails.
std::string Sha256Hex(const uint8_t* bytes, size_t size);
