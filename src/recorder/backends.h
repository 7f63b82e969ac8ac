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

struct WriterSetup {
    std::wstring partPath;  // the file to write; a leftover of that name is replaced
    std::wstring folder;    // the captures folder, for messages
    int32_t width = 0;      // output picture size, both even
    int32_t height = 0;
    int32_t fps = 30;
    bool audioEnabled = false;  // adds a 48 kHz stereo 16-bit sound stream
};

// Writes a recording: H.264 video from NV12 pictures and, with sound, a
// sound stream from 16-bit stereo 48 kHz PCM. Times are 100-ns units on the
// recording clock. Calls come one at a time (the Recorder serialises them).
class SampleWriter {
public:
    virtual ~SampleWriter() = default;
    // Creates the file and begins writing. On failure fills `problem` with the
    // sentence for the user and leaves nothing open.
    virtual bool Open(const WriterSetup& setup, bool allowHardware, std::wstring& problem) = 0;
    // One tightly packed NV12 picture: width x height luma bytes, then
    // height / 2 rows of width interleaved Cb/Cr bytes.
    virtual HRESULT WriteVideo(const uint8_t* nv12, size_t size, int64_t time, int64_t duration) = 0;
    // Interleaved left/right frames.
    virtual HRESULT WriteAudio(const int16_t* frames, size_t frameCount, int64_t time, int64_t duration) = 0;
    // Completes the file; afterwards the writer accepts nothing more.
    virtual HRESULT Finalize() = 0;
};
std::unique_ptr<SampleWriter> MakeSampleWriter();

// Scales the newest frame (B8G8R8A8) to the output size with bars where the
// aspect differs, converts it to NV12 (BT.709, 16-235) and reads it back.
class PictureConverter {
public:
    virtual ~PictureConverter() = default;
    // Builds the conversion for a source size. A failure ends the recording's picture.
    virtual HRESULT Build(D3D& d3d, int32_t sourceWidth, int32_t sourceHeight, int32_t width, int32_t height,
                          int32_t fps) = 0;
    // Converts `source` into `out` (width x height x 3 / 2 bytes, tightly
    // packed NV12). A failure passes this frame slot only.
    virtual HRESULT Convert(ID3D11Texture2D* source, uint8_t* out) = 0;
};
std::unique_ptr<PictureConverter> MakePictureConverter();
