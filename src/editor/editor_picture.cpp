#include "editor/editor_picture.h"

#include <wincodec.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

#include "capture/screenshot.h"
#include "storage/folders.h"

using Microsoft::WRL::ComPtr;

namespace {

Gdiplus::Color ColourOf(uint32_t rgb, BYTE alpha = 255) {
    return Gdiplus::Color(alpha, static_cast<BYTE>(rgb >> 16), static_cast<BYTE>(rgb >> 8), static_cast<BYTE>(rgb));
}

Gdiplus::PointF At(editor::Point p) { return {static_cast<Gdiplus::REAL>(p.x), static_cast<Gdiplus::REAL>(p.y)}; }

// Windows' own sans-serif face, else the first of its stand-ins that is there
// (Wine brings Tahoma). Made once and kept for the process.
const Gdiplus::FontFamily& Family() {
    static Gdiplus::FontFamily* const family = [] {
        for (const wchar_t* name : {L"Segoe UI", L"Tahoma", L"Arial", L"DejaVu Sans"}) {
            auto* made = new Gdiplus::FontFamily(name);
            if (made->GetLastStatus() == Gdiplus::Ok) return made;
            delete made;
        }
        return new Gdiplus::FontFamily();
    }();
    return *family;
}

void DrawLine(Gdiplus::Graphics& g, const editor::Shape& s, BYTE alpha, float width, Gdiplus::LineCap cap) {
    if (s.points.empty()) return;
    Gdiplus::Pen pen(ColourOf(s.colour, alpha), width);
    pen.SetStartCap(cap);
    pen.SetEndCap(cap);
    pen.SetLineJoin(Gdiplus::LineJoinRound);
    std::vector<Gdiplus::PointF> points;
    for (const editor::Point& p : s.points) points.push_back(At(p));
    if (points.size() == 1) points.push_back({points[0].X + 0.1f, points[0].Y});
    g.DrawLines(&pen, points.data(), static_cast<INT>(points.size()));
}

}  // namespace

bool EditorGraphicsReady() {
    static bool ready = false;
    static std::once_flag once;
    std::call_once(once, [] {
        Gdiplus::GdiplusStartupInput input;
        ULONG_PTR token = 0;
        ready = Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok;  // for the process's life
    });
    return ready;
}

namespace {

// The EXIF orientation (1 to 8) of a frame, 1 when it has none. A decoder
// that keeps no metadata (Wine's JPEG decoder) leaves it to our own reading
// of the file's first blocks.
UINT OrientationOf(IWICBitmapFrameDecode* frame, const std::wstring& path) {
    ComPtr<IWICMetadataQueryReader> reader;
    if (FAILED(frame->GetMetadataQueryReader(&reader))) reader.Reset();
    for (const wchar_t* name : {L"/app1/ifd/{ushort=274}", L"/ifd/{ushort=274}", L"System.Photo.Orientation"}) {
        if (!reader) break;
        PROPVARIANT value;
        PropVariantInit(&value);
        const HRESULT hr = reader->GetMetadataByName(name, &value);
        UINT orientation = 0;
        if (SUCCEEDED(hr) && value.vt == VT_UI2) orientation = value.uiVal;
        PropVariantClear(&value);
        if (orientation >= 1 && orientation <= 8) return orientation;
    }
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    std::vector<uint8_t> head(256 * 1024);  // EXIF lives in the first 64 KiB block; a few come before it
    DWORD got = 0;
    const bool read = ReadFile(file, head.data(), static_cast<DWORD>(head.size()), &got, nullptr) != FALSE;
    CloseHandle(file);
    return read ? editor::JpegOrientation(head.data(), got) : 1;
}

std::wstring TooLarge(UINT width, UINT height) {
    return L"This picture (" + std::to_wstring(width) + L" x " + std::to_wstring(height) +
           L" pixels) needs more memory than is free now, so it was not opened. Close some programs and try again.";
}

}  // namespace

bool LoadPicture(const std::wstring& path, LoadedPicture& loaded, std::wstring& problem) {
    ComPtr<IWICImagingFactory> factory;
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    ComPtr<IWICBitmapSource> source;
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory));
    if (SUCCEEDED(hr))
        hr = factory->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand, &decoder);
    if (SUCCEEDED(hr)) hr = decoder->GetFrame(0, &frame);
    UINT frames = 1;
    if (SUCCEEDED(hr) && FAILED(decoder->GetFrameCount(&frames))) frames = 1;
    if (SUCCEEDED(hr)) source = frame;
    ComPtr<IWICFormatConverter> converter;
    if (SUCCEEDED(hr)) hr = factory->CreateFormatConverter(&converter);
    if (SUCCEEDED(hr))
        hr = converter->Initialize(source.Get(), GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr, 0,
                                   WICBitmapPaletteTypeCustom);
    UINT width = 0, height = 0;
    if (SUCCEEDED(hr)) hr = converter->GetSize(&width, &height);
    // A picture this editor can hold and GDI+ can draw into.
    if (SUCCEEDED(hr) && (width == 0 || height == 0 || width > 16384 || height > 16384)) hr = WINCODEC_ERR_IMAGESIZEOUTOFRANGE;
    if (FAILED(hr)) {
        problem = L"The picture could not be opened: " + ErrorText(static_cast<uint32_t>(hr));
        return false;
    }
    MEMORYSTATUSEX memory{};
    memory.dwLength = sizeof memory;
    if (!GlobalMemoryStatusEx(&memory) || !editor::PictureFitsMemory(width, height, memory.ullAvailPhys)) {
        problem = TooLarge(width, height);
        return false;
    }
    try {
        loaded.picture.pixels.assign(static_cast<size_t>(width) * height * 4, 0);
    } catch (const std::bad_alloc&) {
        problem = TooLarge(width, height);
        return false;
    }
    loaded.picture.width = static_cast<int32_t>(width);
    loaded.picture.height = static_cast<int32_t>(height);
    loaded.frames = std::max<UINT>(frames, 1);
    // In bands, so no single call is asked for more than 4 GiB.
    const UINT band = std::max<UINT>(1, (256u << 20) / (width * 4));
    for (UINT top = 0; SUCCEEDED(hr) && top < height; top += band) {
        const WICRect rows{0, static_cast<INT>(top), static_cast<INT>(width), static_cast<INT>(std::min(band, height - top))};
        hr = converter->CopyPixels(&rows, width * 4, width * 4 * static_cast<UINT>(rows.Height),
                                   loaded.picture.pixels.data() + static_cast<size_t>(top) * width * 4);
    }
    if (FAILED(hr)) {
        loaded.picture = {};
        problem = L"The picture could not be opened: " + ErrorText(static_cast<uint32_t>(hr));
        return false;
    }
    // Turned here rather than by WIC's flip-rotator, which Wine has only in part.
    try {
        editor::TurnUpright(loaded.picture, editor::UprightFor(OrientationOf(frame.Get(), path)));
    } catch (const std::bad_alloc&) {
        loaded.picture = {};
        problem = TooLarge(width, height);
        return false;
    }
    return true;
}

std::unique_ptr<Gdiplus::Font> TextFont(int32_t strokeWidth) {
    return std::make_unique<Gdiplus::Font>(&Family(), static_cast<Gdiplus::REAL>(editor::TextHeight(strokeWidth)) * 0.8f,
                                           Gdiplus::FontStyleBold, Gdiplus::UnitPixel);
}

void DrawShape(Gdiplus::Graphics& g, const editor::Shape& s) {
    const auto width = static_cast<Gdiplus::REAL>(s.width);
    switch (s.kind) {
        case editor::ShapeKind::Pen:
            DrawLine(g, s, 255, width, Gdiplus::LineCapRound);
            break;
        case editor::ShapeKind::Highlighter:
            // A broad, see-through marker that leaves what is under it readable.
            DrawLine(g, s, 110, width * 3, Gdiplus::LineCapFlat);
            break;
        case editor::ShapeKind::Rectangle: {
            if (s.points.size() < 2) break;
            const editor::Rect r = editor::DragRect(s.points[0], s.points[1], {INT32_MIN / 2, INT32_MIN / 2, INT32_MAX / 2, INT32_MAX / 2});
            Gdiplus::Pen pen(ColourOf(s.colour), width);
            pen.SetLineJoin(Gdiplus::LineJoinMiter);
            g.DrawRectangle(&pen, static_cast<Gdiplus::REAL>(r.left), static_cast<Gdiplus::REAL>(r.top),
                            static_cast<Gdiplus::REAL>(r.Width()), static_cast<Gdiplus::REAL>(r.Height()));
            break;
        }
        case editor::ShapeKind::Arrow: {
            if (s.points.size() < 2) break;
            const editor::ArrowHead head = editor::ArrowHeadOf(s.points[0], s.points[1], s.width);
            // The shaft stops inside the head, so its square end never pokes out of the point.
            const editor::Point base{(head.left.x + head.right.x) / 2, (head.left.y + head.right.y) / 2};
            Gdiplus::Pen pen(ColourOf(s.colour), width);
            pen.SetStartCap(Gdiplus::LineCapRound);
            g.DrawLine(&pen, At(s.points[0]), At(base));
            Gdiplus::SolidBrush brush(ColourOf(s.colour));
            const Gdiplus::PointF triangle[3] = {At(head.tip), At(head.left), At(head.right)};
            g.FillPolygon(&brush, triangle, 3);
            break;
        }
        case editor::ShapeKind::Text: {
            if (s.points.empty()) break;
            const std::unique_ptr<Gdiplus::Font> font = TextFont(s.width);
            Gdiplus::SolidBrush brush(ColourOf(s.colour));
            g.DrawString(s.text.c_str(), static_cast<INT>(s.text.size()), font.get(), At(s.points[0]), &brush);
            break;
        }
        case editor::ShapeKind::Step: {
            if (s.points.empty()) break;
            const auto radius = static_cast<Gdiplus::REAL>(editor::StepRadius(s.width));
            const Gdiplus::PointF centre = At(s.points[0]);
            Gdiplus::SolidBrush fill(ColourOf(s.colour));
            g.FillEllipse(&fill, centre.X - radius, centre.Y - radius, radius * 2, radius * 2);
            Gdiplus::Pen ring(Gdiplus::Color(255, 255, 255, 255), std::max(1.5f, radius / 8));
            g.DrawEllipse(&ring, centre.X - radius, centre.Y - radius, radius * 2, radius * 2);
            const std::wstring number = std::to_wstring(s.number);
            Gdiplus::Font font(&Family(), radius * (number.size() > 1 ? 0.95f : 1.2f), Gdiplus::FontStyleBold,
                               Gdiplus::UnitPixel);
            Gdiplus::StringFormat centred;
            centred.SetAlignment(Gdiplus::StringAlignmentCenter);
            centred.SetLineAlignment(Gdiplus::StringAlignmentCenter);
            Gdiplus::SolidBrush white(Gdiplus::Color(255, 255, 255, 255));
            const Gdiplus::RectF box(centre.X - radius, centre.Y - radius, radius * 2, radius * 2);
            g.DrawString(number.c_str(), static_cast<INT>(number.size()), &font, box, &centred, &white);
            break;
        }
    }
}

void DrawShapes(Gdiplus::Graphics& g, const std::vector<editor::Shape>& shapes) {
    for (const editor::Shape& shape : shapes) DrawShape(g, shape);
}

bool Flatten(const editor::Document& document, editor::Picture& flat, std::wstring& problem) {
    try {
        flat = document.Base();
    } catch (const std::bad_alloc&) {
        flat = {};
        problem = L"There is not enough memory free to save the edited picture. Close some programs and try again.";
        return false;
    }
    if (document.Shapes().empty() || !EditorGraphicsReady()) return true;
    // Drawn straight into the copy: the format is GDI+'s own (B8G8R8A8, not
    // premultiplied), so shapes blend into see-through parts too.
    Gdiplus::Bitmap bitmap(flat.width, flat.height, flat.width * 4, PixelFormat32bppARGB, flat.pixels.data());
    {
        Gdiplus::Graphics graphics(&bitmap);
        graphics.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
        graphics.SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAliasGridFit);
        DrawShapes(graphics, document.Shapes());
        graphics.Flush(Gdiplus::FlushIntentionSync);
    }
    // Whether it drew into the rows it was given or into a copy of its own
    // is GDI+'s business: read back whatever it holds.
    Gdiplus::BitmapData data{};
    Gdiplus::Rect all(0, 0, flat.width, flat.height);
    if (bitmap.LockBits(&all, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB, &data) == Gdiplus::Ok) {
        if (data.Scan0 != flat.pixels.data())
            for (int32_t y = 0; y < flat.height; ++y)
                std::memmove(flat.pixels.data() + static_cast<size_t>(y) * flat.width * 4,
                             static_cast<const uint8_t*>(data.Scan0) + static_cast<ptrdiff_t>(y) * data.Stride,
                             static_cast<size_t>(flat.width) * 4);
        bitmap.UnlockBits(&data);
    }
    return true;
}

namespace {

HRESULT EncodeEdited(const editor::Picture& flat, const std::wstring& file) {
    bool opaque = true;
    for (size_t i = 3; opaque && i < flat.pixels.size(); i += 4) opaque = flat.pixels[i] == 255;
    const auto width = static_cast<UINT>(flat.width), height = static_cast<UINT>(flat.height);
    ComPtr<IWICBitmapEncoder> encoder;
    ComPtr<IWICBitmapFrameEncode> frame;
    HRESULT hr = StartPng(file, width, height, opaque ? GUID_WICPixelFormat24bppBGR : GUID_WICPixelFormat32bppBGRA,
                          encoder, frame);
    if (SUCCEEDED(hr) && !opaque)
        hr = frame->WritePixels(height, width * 4, static_cast<UINT>(flat.pixels.size()),
                                const_cast<BYTE*>(flat.pixels.data()));
    if (SUCCEEDED(hr) && opaque) {
        // A few rows at a time, packed to three bytes a pixel.
        const UINT band = std::max<UINT>(1, (4u << 20) / (width * 3));
        std::vector<uint8_t> packed(static_cast<size_t>(band) * width * 3);
        for (UINT top = 0; SUCCEEDED(hr) && top < height; top += band) {
            const UINT rows = std::min(band, height - top);
            const uint8_t* from = flat.pixels.data() + static_cast<size_t>(top) * width * 4;
            uint8_t* to = packed.data();
            for (size_t i = 0; i < static_cast<size_t>(rows) * width; ++i, from += 4, to += 3) std::memcpy(to, from, 3);
            hr = frame->WritePixels(rows, width * 3, rows * width * 3, packed.data());
        }
    }
    if (SUCCEEDED(hr)) hr = frame->Commit();
    if (SUCCEEDED(hr)) hr = encoder->Commit();
    return hr;
}

}  // namespace

bool SaveEditedPicture(const editor::Picture& flat, const std::wstring& path, bool replace, std::wstring& problem) {
    const std::wstring part = path + L".part";
    HRESULT hr = S_OK;
    try {
        hr = EncodeEdited(flat, part);
    } catch (const std::bad_alloc&) {
        hr = E_OUTOFMEMORY;
    }
    if (SUCCEEDED(hr) &&
        !MoveFileExW(part.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0)))
        hr = HRESULT_FROM_WIN32(GetLastError());
    if (FAILED(hr)) {
        DeleteFileW(part.c_str());
        problem = L"The edited picture could not be saved: " + ErrorText(static_cast<uint32_t>(hr));
        return false;
    }
    return true;
}
