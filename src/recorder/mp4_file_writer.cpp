// Stand-in sample writer for the test build: our own fragmented MP4 writer
// (H.264 of uncompressed macroblocks, 16-bit PCM sound) writing straight to
// the file, fragment by fragment, so a recording cut off at any moment plays
// up to its last complete fragment.
#include <windows.h>

#include <optional>
#include <vector>

#include "common/unique_handle.h"
#include "recorder/backends.h"
#include "recorder/mp4_writer_core.h"
#include "storage/folders.h"

namespace {

HRESULT LastErrorResult() {
    const DWORD error = GetLastError();
    return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}

class Mp4FileWriter final : public SampleWriter {
public:
    bool Open(const WriterSetup& setup, bool, std::wstring& problem) override {
        mp4_.reset();
        file_.Reset(CreateFileW(setup.partPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file_) {
            problem = L"The recording file could not be created in " + setup.folder + L": " +
                      ErrorText(static_cast<uint32_t>(LastErrorResult()));
            return false;
        }
        Mp4Config config;
        config.width = static_cast<uint32_t>(setup.width);
        config.height = static_cast<uint32_t>(setup.height);
        config.fps = static_cast<uint32_t>(setup.fps);
        config.audio = setup.audioEnabled;
        // Sound in samples of 1024 frames: one index entry per frame makes readers slow and huge.
        config.audioFramesPerSample = 1024;
        mp4_.emplace(config, [this](const uint8_t* data, size_t size) { return Append(data, size); });
        if (!mp4_->Begin()) {
            problem = L"The recording could not start: " + ErrorText(static_cast<uint32_t>(writeError_));
            mp4_.reset();
            file_.Reset();
            return false;
        }
        return true;
    }

    // One picture's memory serves every frame: nothing is allocated per frame.
    HRESULT NewPicture(size_t size, std::unique_ptr<Picture>& picture) override {
        if (buffer_.size() != size) buffer_.resize(size);
        auto made = std::make_unique<Picture>();
        made->data = buffer_.data();
        made->size = size;
        picture = std::move(made);
        return S_OK;
    }

    HRESULT WriteVideo(Picture& picture, int64_t time, int64_t duration) override {
        if (!mp4_) return E_UNEXPECTED;
        return mp4_->AddVideoFrame(picture.data, picture.size, time, duration) ? S_OK : Failure();
    }

    HRESULT WriteAudio(const int16_t* frames, size_t frameCount, int64_t time, int64_t) override {
        if (!mp4_) return E_UNEXPECTED;
        return mp4_->AddAudio(frames, frameCount, time) ? S_OK : Failure();
    }

    uint64_t PicturesWaiting() override { return 0; }

    HRESULT Finalize() override {
        if (!mp4_) return S_OK;
        const bool finished = mp4_->Finish();
        mp4_.reset();
        const bool flushed = FlushFileBuffers(file_.Get()) != FALSE;
        if (!flushed && writeError_ == S_OK) writeError_ = LastErrorResult();
        file_.Reset();
        return finished && flushed ? S_OK : Failure();
    }

private:
    bool Append(const uint8_t* data, size_t size) {
        while (size > 0) {
            const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
            DWORD written = 0;
            if (!WriteFile(file_.Get(), data, chunk, &written, nullptr) || written == 0) {
                writeError_ = LastErrorResult();
                return false;
            }
            data += written;
            size -= written;
        }
        return true;
    }

    HRESULT Failure() const { return writeError_ != S_OK ? writeError_ : E_FAIL; }

    std::vector<uint8_t> buffer_;
    UniqueHandle file_;
    std::optional<FragmentedMp4Writer> mp4_;
    HRESULT writeError_ = S_OK;
};

}  // namespace

std::unique_ptr<SampleWriter> MakeSampleWriter() { return std::make_unique<Mp4FileWriter>(); }

std::wstring SampleWriterUnavailable() { return {}; }
