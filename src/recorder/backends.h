#pragma once
// The two narrow seams of the recording path. The shipping program links the
// Windows implementations (Media Foundation sink writer, Direct3D 11 video
// processor); the test build links stand-ins that run where those are
// missing. The Recorder and its loops see only these interfaces.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "capture/d3d.h"
#include "capture/region_core.h"

struct WriterSetup {
    std::wstring partPath;  // the file to write; a leftover of that name is replaced
    std::wstring folder;    // the captures folder, for messages
    int32_t width = 0;      // output picture size, both even
    int32_t height = 0;
    int32_t fps = 30;
    bool audioEnabled = false;  // adds a 48 kHz stereo 16-bit sound stream
};

// The memory of one NV12 picture, of the writer's own kind: the converter
// fills it in place and the writer takes it as it is, so a frame is copied
// once on its way from the graphics chip to the encoder.
class Picture {
public:
    virtual ~Picture() = default;
    uint8_t* data = nullptr;  // width x height luma bytes, then height / 2 rows of width Cb/Cr bytes
    size_t size = 0;
};

// Writes a recording: H.264 video from NV12 pictures and, with sound, a
// sound stream from 16-bit stereo 48 kHz PCM. Times are 100-ns units on the
// recording clock. Calls come one at a time (the Recorder serialises them).
class SampleWriter {
public:
    virtual ~SampleWriter() = default;
    // Creates the file and begins writing. On failure fills `problem` with the
    // sentence for the user and leaves nothing open, the file included.
    virtual bool Open(const WriterSetup& setup, bool allowHardware, std::wstring& problem) = 0;
    // Memory for the next picture (`size` bytes). A failure passes that frame slot only.
    virtual HRESULT NewPicture(size_t size, std::unique_ptr<Picture>& picture) = 0;
    // Takes a picture made by NewPicture of a writer of the same kind.
    virtual HRESULT WriteVideo(Picture& picture, int64_t time, int64_t duration) = 0;
    // Interleaved left/right frames. S_FALSE: the memory for them could not
    // be had, nothing was written, and the same sound may be offered again.
    virtual HRESULT WriteAudio(const int16_t* frames, size_t frameCount, int64_t time, int64_t duration) = 0;
    // Pictures handed over that the encoder has not finished yet.
    virtual uint64_t PicturesWaiting() = 0;
    // Completes the file; afterwards the writer accepts nothing more.
    virtual HRESULT Finalize() = 0;
};
std::unique_ptr<SampleWriter> MakeSampleWriter();
// Empty when this build can write recordings on this computer; otherwise the
// sentence for the user.
std::wstring SampleWriterUnavailable();

// Scales the newest frame (B8G8R8A8) to the output size with bars where the
// aspect differs, converts it to NV12 (BT.709, 16-235) and reads it back.
class PictureConverter {
public:
    virtual ~PictureConverter() = default;
    // Builds the conversion of `area` of `source` (which the caller keeps
    // while its size holds; the area lies inside it) into pictures of the
    // output size. Pictures submitted and not collected are dropped. A
    // failure ends the recording's picture.
    virtual HRESULT Build(D3D& d3d, ID3D11Texture2D* source, int32_t sourceWidth, int32_t sourceHeight,
                          const ScreenRect& area, int32_t width, int32_t height, int32_t fps) = 0;
    // Starts converting the source as it is now. A failure passes this frame
    // slot only; nothing was submitted then.
    virtual HRESULT Submit() = 0;
    // Reads the oldest picture submitted and not yet collected into `out`
    // (width x height x 3 / 2 bytes, tightly packed NV12); it is collected
    // even when that fails.
    virtual HRESULT Collect(uint8_t* out) = 0;
    // Pictures that may stay submitted while the next is converted. A
    // converter on the graphics chip keeps one, so reading a picture back
    // never waits for the copy just issued, with the device locked.
    virtual size_t Depth() const { return 0; }
    // Converts `area` of a frame kept in memory (B8G8R8A8 rows of
    // sourceWidth * 4 bytes) the same way, at once and without the device.
    // Only converters that work on the processor can.
    virtual HRESULT ConvertPixels(const uint8_t*, int32_t /*sourceWidth*/, const ScreenRect& /*area*/,
                                  int32_t /*width*/, int32_t /*height*/, uint8_t* /*out*/) {
        return E_NOTIMPL;
    }
};
std::unique_ptr<PictureConverter> MakePictureConverter();
