#include "cloud/capture_facts.h"

#include <windows.h>
#include <bcrypt.h>
#include <mfapi.h>
#include <mfidl.h>
#include <mfreadwrite.h>
#include <objbase.h>
#include <propvarutil.h>
#include <shobjidl.h>
#include <wincodec.h>
#include <wincrypt.h>
#include <wrl/client.h>

#include "recorder/media_foundation.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr size_t kThumbnailLimit = 80'000;

ComPtr<IWICImagingFactory> ImagingFactory() {
    ComPtr<IWICImagingFactory> factory;
    CoCreateInstance(CLSID_WICImagingFactory2, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory));
    return factory;
}

void VideoFacts(const std::wstring& path, CaptureFactsResult& facts) {
    // Without the system's media features a recording's facts stay unknown.
    const auto createReader = MediaFunctions().createSourceReaderFromURL;
    ComPtr<IMFSourceReader> reader;
    if (createReader == nullptr || FAILED(createReader(path.c_str(), nullptr, &reader))) return;
    PROPVARIANT duration;
    PropVariantInit(&duration);
    if (SUCCEEDED(reader->GetPresentationAttribute(static_cast<DWORD>(MF_SOURCE_READER_MEDIASOURCE), MF_PD_DURATION,
                                                   &duration)) &&
        duration.vt == VT_UI8)
        facts.duration = static_cast<double>(duration.uhVal.QuadPart) / 10'000'000.0;
    PropVariantClear(&duration);

    ComPtr<IMFMediaType> video;
    UINT64 size = 0;
    if (SUCCEEDED(reader->GetNativeMediaType(static_cast<DWORD>(MF_SOURCE_READER_FIRST_VIDEO_STREAM), 0, &video)) &&
        SUCCEEDED(video->GetUINT64(MF_MT_FRAME_SIZE, &size))) {
        facts.width = static_cast<uint32_t>(size >> 32);
        facts.height = static_cast<uint32_t>(size & 0xFFFFFFFFu);
    }
    ComPtr<IMFMediaType> audio;
    facts.hasAudio =
        SUCCEEDED(reader->GetNativeMediaType(static_cast<DWORD>(MF_SOURCE_READER_FIRST_AUDIO_STREAM), 0, &audio));
}

void PictureFacts(const std::wstring& path, CaptureFactsResult& facts) {
    ComPtr<IWICImagingFactory> factory = ImagingFactory();
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    UINT width = 0, height = 0;
    if (!factory ||
        FAILED(factory->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand,
                                                  &decoder)) ||
        FAILED(decoder->GetFrame(0, &frame)) || FAILED(frame->GetSize(&width, &height)))
        return;
    facts.width = width;
    facts.height = height;
}

// One JPEG encoding of the bitmap; false when the encoder itself cannot be made.
bool EncodeJpeg(IWICImagingFactory* factory, IWICBitmapSource* bitmap, float quality, std::string& jpeg) {
    ComPtr<IStream> stream;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream))) return false;
    ComPtr<IWICBitmapEncoder> encoder;
    ComPtr<IWICBitmapFrameEncode> frame;
    ComPtr<IPropertyBag2> properties;
    if (FAILED(factory->CreateEncoder(GUID_ContainerFormatJpeg, nullptr, &encoder)) ||
        FAILED(encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache)) ||
        FAILED(encoder->CreateNewFrame(&frame, &properties)))
        return false;
    PROPBAG2 option{};
    option.pstrName = const_cast<LPOLESTR>(L"ImageQuality");
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_R4;
    value.fltVal = quality;
    if (properties) properties->Write(1, &option, &value);
    if (FAILED(frame->Initialize(properties.Get()))) return false;

    jpeg.clear();
    ComPtr<IWICFormatConverter> converter;
    UINT width = 0, height = 0;
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    if (FAILED(factory->CreateFormatConverter(&converter)) ||
        FAILED(converter->Initialize(bitmap, GUID_WICPixelFormat24bppBGR, WICBitmapDitherTypeNone, nullptr, 0.0,
                                     WICBitmapPaletteTypeCustom)) ||
        FAILED(converter->GetSize(&width, &height)) || FAILED(frame->SetSize(width, height)) ||
        FAILED(frame->SetPixelFormat(&format)) || FAILED(frame->WriteSource(converter.Get(), nullptr)) ||
        FAILED(frame->Commit()) || FAILED(encoder->Commit()))
        return true;  // this quality gave nothing; the next may

    HGLOBAL memory = nullptr;
    if (FAILED(GetHGlobalFromStream(stream.Get(), &memory))) return true;
    STATSTG stat{};
    if (FAILED(stream->Stat(&stat, STATFLAG_NONAME))) return true;
    const size_t size = static_cast<size_t>(stat.cbSize.QuadPart);
    if (const void* bytes = GlobalLock(memory)) {
        jpeg.assign(static_cast<const char*>(bytes), size);
        GlobalUnlock(memory);
    }
    return true;
}

}  // namespace

CaptureFactsResult CaptureFacts(const std::wstring& path, bool isVideo) {
    CaptureFactsResult facts;
    if (isVideo)
        VideoFacts(path, facts);
    else
        PictureFacts(path, facts);
    return facts;
}

std::string Base64Text(const uint8_t* bytes, size_t size) {
    if (size == 0 || size > 0x7FFFFFFF) return {};
    const DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
    DWORD length = 0;
    if (!CryptBinaryToStringA(bytes, static_cast<DWORD>(size), flags, nullptr, &length) || length == 0) return {};
    std::string text(length, '\0');
    if (!CryptBinaryToStringA(bytes, static_cast<DWORD>(size), flags, text.data(), &length)) return {};
    text.resize(length);  // without the terminator
    return text;
}

std::string MakeThumbnail(const std::wstring& path) {
    ComPtr<IShellItemImageFactory> shellImage;
    if (FAILED(SHCreateItemFromParsingName(path.c_str(), nullptr, IID_PPV_ARGS(&shellImage)))) return {};
    HBITMAP thumbnail = nullptr;
    if (FAILED(shellImage->GetImage(SIZE{320, 320}, SIIGBF_BIGGERSIZEOK | SIIGBF_THUMBNAILONLY, &thumbnail)) ||
        thumbnail == nullptr)
        return {};
    std::string accepted;
    ComPtr<IWICImagingFactory> factory = ImagingFactory();
    ComPtr<IWICBitmap> bitmap;
    if (factory && SUCCEEDED(factory->CreateBitmapFromHBITMAP(thumbnail, nullptr, WICBitmapIgnoreAlpha, &bitmap))) {
        for (float quality = 0.7f; quality >= 0.29f; quality -= 0.2f) {
            std::string jpeg;
            if (!EncodeJpeg(factory.Get(), bitmap.Get(), quality, jpeg)) break;
            if (jpeg.empty()) continue;
            std::string text = "data:image/jpeg;base64," + Base64Text(reinterpret_cast<const uint8_t*>(jpeg.data()),
                                                                        jpeg.size());
            if (text.size() <= kThumbnailLimit) {
                accepted = std::move(text);
                break;
            }
        }
    }
    DeleteObject(thumbnail);
    return accepted;
}

std::string Sha256Hex(const uint8_t* bytes, size_t size) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) return {};
    unsigned char digest[32] = {};
    bool ok = true;
    // One call per 1 GiB at most: the length parameter is 32 bits.
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) != 0) {
        ok = false;
    } else {
        for (size_t done = 0; ok && done < size;) {
            const ULONG chunk = static_cast<ULONG>(size - done < (1u << 30) ? size - done : (1u << 30));
            ok = BCryptHashData(hash, const_cast<PUCHAR>(bytes + done), chunk, 0) == 0;
            done += chunk;
        }
        ok = ok && BCryptFinishHash(hash, digest, sizeof digest, 0) == 0;
        BCryptDestroyHash(hash);
    }
    BCryptCloseAlgorithmProvider(algorithm, 0);
    if (!ok) return {};
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char b : digest) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}
