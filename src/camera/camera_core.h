#pragma once
// The camera bubble's decisions: its sizes, where it may stand, the picture
// it shows (the middle square of the camera's, mirrored as a mirror is),
// which of a camera's formats to ask for, the test build's colour bars and
// the sentences for what goes wrong.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace camera {

enum class BubbleSize { Small, Medium, Large };

// "small", "medium", "large": the values of the setting.
std::wstring_view BubbleSizeName(BubbleSize size);
BubbleSize BubbleSizeNamed(std::wstring_view name);  // anything else is medium

// The bubble's width and height in physical pixels on a monitor of that DPI.
int32_t BubbleDiameter(BubbleSize size, uint32_t dpi);

struct Area {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
};
struct Spot {
    int32_t x = 0, y = 0;
    bool operator==(const Spot&) const = default;
};
// The stored place of a bubble that was never moved.
constexpr int32_t kNotPlaced = INT32_MIN;

// Where a bubble whose top left is wanted at `wanted` stands on a monitor of
// that work area and DPI: wholly inside it, a margin from its edges, and in
// a corner when it comes near one. A bubble larger than the area stands at
// its top left.
Spot PlaceBubble(const Area& work, int32_t diameter, Spot wanted, uint32_t dpi);
// A bubble that was never placed stands in the bottom left corner.
Spot FirstBubbleSpot(const Area& work, int32_t diameter, uint32_t dpi);

// One camera picture as delivered: 4 bytes a pixel (B, G, R, unused); rows
// `stride` bytes apart, negative for a picture stored bottom up, with
// `bgra` at its top row.
struct FrameView {
    const uint8_t* bgra = nullptr;
    int32_t width = 0, height = 0;
    ptrdiff_t stride = 0;
};
// The bubble's picture, diameter x diameter, top down, opaque: the frame's
// middle square, mirrored left to right and scaled.
void DrawBubblePicture(const FrameView& frame, int32_t diameter, std::vector<uint8_t>& out);

// The test build's camera: white, yellow, cyan, green, magenta, red and blue
// bars from left to right, and a black square crossing the lower part once
// every two seconds at 30 pictures a second, so a judge can see it live.
void ColourBars(int32_t width, int32_t height, int64_t pictureNumber, std::vector<uint8_t>& out);

struct CameraFormat {
    int32_t width = 0, height = 0;
    uint32_t fpsNumerator = 0, fpsDenominator = 1;
    uint32_t fourcc = 0;  // the subtype's first field: 'NV12', 'YUY2', 'MJPG', 21 for RGB32...
};
// The formats in the order to try them: those of at most 1280 x 720 and 30
// pictures a second first, the largest, then the fastest, then the cheapest
// to convert; the others after, the smallest and slowest first.
std::vector<size_t> FormatsToTry(const std::vector<CameraFormat>& formats);
// "NV12", "MJPG", or the number when the code is not four letters.
std::wstring FourccText(uint32_t fourcc);

// What the bubble says when the camera cannot be had. `errorText` is the
// system's own wording of `hresult`, used when none of ours fits.
enum class CameraStep { Opening, Showing };
std::wstring CameraProblemText(uint32_t hresult, CameraStep step, std::wstring_view errorText);
extern const wchar_t kNoCamera[];
// None of the camera's formats became RGB: the formats it offered.
std::wstring UnconvertibleText(const std::vector<CameraFormat>& formats);

}  // namespace camera
