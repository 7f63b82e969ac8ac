#pragma once
// One sound source of a recording: the computer's sound by loopback, a
// microphone, or the synthetic sync tone. Delivers stereo float frames at
// 48 kHz with the capture time of their end on the performance-counter clock.
#include <windows.h>
#include <audioclient.h>
#include <mmdeviceapi.h>
#include <wrl/client.h>

#include <cstdint>
#include <string>
#include <vector>

#include "audio/audio_core.h"

class AudioSource {
public:
    AudioSource() = default;
    ~AudioSource() { Close(); }
    AudioSource(const AudioSource&) = delete;
    AudioSource& operator=(const AudioSource&) = delete;

    // Loopback of the default speakers, or the microphone `deviceId` (the
    // default microphone when the id is empty or cannot be opened).
    bool Open(bool loopback, const std::wstring& deviceId, std::wstring& problem);
    void StartSyncTone();
    // Appends every frame that is ready; `endTime` (100-ns counter time) is
    // the end of what was appended, or 0 when unknown. Never blocks.
    void Read(std::vector<float>& block, int64_t& endTime);
    void Close();

    // Why the open device stopped working (AUDCLNT_E_DEVICE_INVALIDATED when
    // it was unplugged or disabled), S_OK while it works or is closed.
    HRESULT Lost() const { return lost_; }
    // Looks whether the open device is still there and its stream still
    // works; if not, it counts as lost from now on.
    void CheckPresent();
    // The endpoint read now; empty for the tone or when closed.
    const std::wstring& EndpointId() const { return endpointId_; }

private:
    bool synthetic_ = false;
    SyncTone tone_;
    Microsoft::WRL::ComPtr<IMMDevice> device_;
    Microsoft::WRL::ComPtr<IAudioClient> audioClient_;
    Microsoft::WRL::ComPtr<IAudioCaptureClient> captureClient_;
    std::wstring endpointId_;
    StereoGains gains_;
    SampleKind kind_ = SampleKind::Float32;
    LinearResampler resampler_;
    HRESULT lost_ = S_OK;
};

// The id of the endpoint that carries the computer's sound now; empty when
// there is none.
std::wstring ComputerSoundEndpointId();
// The id of the endpoint a microphone would open now: the chosen one while
// it is there, else the default microphone; empty when there is none.
std::wstring MicrophoneEndpointId(const std::wstring& chosen);

// Tells when Windows makes another device the default, through the system's
// endpoint notifications; the sound thread asks it between reads.
class DefaultDeviceWatch {
public:
    DefaultDeviceWatch();
    ~DefaultDeviceWatch();
    DefaultDeviceWatch(const DefaultDeviceWatch&) = delete;
    DefaultDeviceWatch& operator=(const DefaultDeviceWatch&) = delete;
    // True once after each change of a default device.
    bool TakeChange();

private:
    class Client;
    Microsoft::WRL::ComPtr<IMMDeviceEnumerator> enumerator_;
    Client* client_ = nullptr;
};

// Provided by the build: the endpoint that carries the computer's sound and
// the stream flags to open it with. The shipping program takes the default
// speakers by loopback; the test build takes the default capture endpoint,
// because Wine offers no loopback (its capture service refuses render
// endpoints) while its sound server's monitor of the output is a capture
// endpoint.
bool ComputerSoundEndpoint(IMMDeviceEnumerator* enumerator, Microsoft::WRL::ComPtr<IMMDevice>& device, DWORD& streamFlags);

// The entry point through which sound sources reach the system's endpoints;
// its default creates the system's device enumerator. Only the glue tests
// put a fake of the platform objects there.
struct AudioPlatform {
    HRESULT (*createEnumerator)(IMMDeviceEnumerator** enumerator);
};
AudioPlatform& AudioFunctions();

struct MicrophoneEntry {
    std::wstring id;
    std::wstring name;
};

std::vector<MicrophoneEntry> ListMicrophones();
