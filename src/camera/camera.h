#pragma once
// The camera behind the bubble. The shipping program reads the cameras of
// Media Foundation; the test build has one stand-in camera that shows
// colour bars. A camera is opened on the bubble's own reading thread, in
// the multithreaded apartment, and used there only; Interrupt alone may be
// called from another thread.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "camera/camera_core.h"

struct CameraEntry {
    std::wstring name;  // as Windows names it
    std::wstring link;  // the device's symbolic link: what the settings keep
};
// The cameras there are now, in Windows' order; empty when there are none
// or they cannot be listed.
std::vector<CameraEntry> ListCameras();

class CameraSource {
public:
    virtual ~CameraSource() = default;
    // Waits for the camera's next picture and hands it to `use`; false, with
    // the sentence for the user, when the camera has gone or failed, and
    // false with nothing said once interrupted.
    virtual bool Next(const std::function<void(const camera::FrameView&)>& use, std::wstring& problem) = 0;
    // From any thread: ends a wait in Next, and every later one.
    virtual void Interrupt() = 0;
};

// Opens the camera of that link (the first one when the link is empty or that
// camera is not there) and starts its picture; null with the sentence for
// the user when it cannot. `name` is set to the camera's name.
std::unique_ptr<CameraSource> OpenCamera(const std::wstring& link, std::wstring& name, std::wstring& problem);
