// The test build's camera: one, named "Ostrel test camera", that shows
// colour bars with a moving square at 30 pictures a second, square as the
// bubble is so that every bar shows in it.
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "camera/camera.h"
#include "storage/log.h"

namespace {

constexpr wchar_t kName[] = L"Ostrel test camera";
constexpr wchar_t kLink[] = L"\\\\?\\ostrel#test-camera";
constexpr int32_t kSide = 480;

class ColourBarsCamera final : public CameraSource {
public:
    ColourBarsCamera() : next_(std::chrono::steady_clock::now()) { Log(L"Test camera opened"); }
    ~ColourBarsCamera() override { Log(L"Test camera closed after %lld pictures", static_cast<long long>(count_)); }

    bool Next(const std::function<void(const camera::FrameView&)>& use, std::wstring&) override {
        {
            std::unique_lock<std::mutex> hold(lock_);
            if (wake_.wait_until(hold, next_, [&] { return interrupted_; })) return false;
        }
        next_ += std::chrono::microseconds(33'333);
        // A reader that fell behind takes the picture of now, not a backlog.
        if (next_ < std::chrono::steady_clock::now()) next_ = std::chrono::steady_clock::now();
        camera::ColourBars(kSide, kSide, count_++, picture_);
        use({picture_.data(), kSide, kSide, kSide * 4});
        return true;
    }

    void Interrupt() override {
        std::lock_guard<std::mutex> hold(lock_);
        interrupted_ = true;
        wake_.notify_all();
    }

private:
    std::mutex lock_;
    std::condition_variable wake_;
    bool interrupted_ = false;
    std::chrono::steady_clock::time_point next_;
    int64_t count_ = 0;
    std::vector<uint8_t> picture_;
};

}  // namespace

std::vector<CameraEntry> ListCameras() { return {{kName, kLink}}; }

std::unique_ptr<CameraSource> OpenCamera(const std::wstring&, std::wstring& name, std::wstring&) {
    name = kName;
    return std::make_unique<ColourBarsCamera>();
}
