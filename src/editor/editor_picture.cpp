#include "editor/editor_picture.h"

#include <wincodec.h>
#include <wrl/client.h>

#include <cstring>
#include <mutex>

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

bool LoadPicture(const std::wstring& path, editor::Picture& picture, std::wstring& problem) {
    ComPtr<IWICImagingFactory> factory;
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    ComPtr<IWICFormatConverter> converter;
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory));
    if (SUCCEEDED(hr))
        hr = factory->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand, &decoder);
    if (SUCCEEDED(hr)) hr = decoder->GetFrame(0, &frame);
    if (SUCCEEDED(hr)) hr = factory->CreateFormatConverter(&converter);
    if (SUCCEEDED(hr))
        hr = converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr, 0,
                                   WICBitmapPaletteTypeCustom);
    UINT width = 0, height = 0;
    if (SUCCEEDED(hr)) hr = converter->GetSize(&width, &height);
    // A picture this editor can hold and GDI+ can draw into.
    if (SUCCEEDED(hr) && (width == 0 || height == 0 || width > 16384 || height > 16384)) hr = WINCODEC_ERR_IMAGESIZEOUTOFRANGE;
    if (SUCCEEDED(hr)) {
        picture.width = static_cast<int32_t>(width);
        picture.height = static_cast<int32_t>(height);
        picture.pixels.assign(static_cast<size_t>(width) * height * 4, 0);
        hr = converter->CopyPixels(nullptr, width * 4, static_cast<UINT>(picture.pixels.size()), picture.pixels.data());
    }
    if (FAILED(hr)) {
        problem = L"The picture could not be opened: " + ErrorText(static_cast<uint32_t>(hr));
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

editor::Picture Flatten(const editor::Document& document) {
    editor::Picture flat = document.Base();
    if (document.Shapes().empty() || !EditorGraphicsReady()) return flat;
    Gdiplus::Bitmap bitmap(flat.width, flat.height, flat.width * 4, PixelFormat32bppRGB, flat.pixels.data());
    {
        Gdiplus::Graphics graphics(&bitmap);
        graphics.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
        graphics.SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAliasGridFit);
        DrawShapes(graphics, document.Shapes());
        graphics.Flush(Gdiplus::FlushIntentionSync);
    }
    // Read back through the bitmap: whether it drew into the rows it was
    // given or into a copy is GDI+'s business.
    Gdiplus::BitmapData data{};
    Gdiplus::Rect all(0, 0, flat.width, flat.height);
    if (bitmap.LockBits(&all, Gdiplus::ImageLockModeRead, PixelFormat32bppRGB, &data) == Gdiplus::Ok) {
        std::vector<uint8_t> drawn(flat.pixels.size());
        for (int32_t y = 0; y < flat.height; ++y)
            std::memcpy(drawn.data() + static_cast<size_t>(y) * flat.width * 4,
                        static_cast<const uint8_t*>(data.Scan0) + static_cast<ptrdiff_t>(y) * data.Stride,
                        static_cast<size_t>(flat.width) * 4);
        bitmap.UnlockBits(&data);
        flat.pixels.swap(drawn);
    }
    for (size_t i = 3; i < flat.pixels.size(); i += 4) flat.pixels[i] = 255;
    return flat;
}
