#include "audio/audio_source.h"

#include <mmdeviceapi.h>
#include <propidl.h>

#include <atomic>
#include <new>

#include "common/steady_clock.h"
#include "storage/folders.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr REFERENCE_TIME kBufferDuration = 2000000;  // 200 ms: polling may pause that long without loss
// KSDATAFORMAT_SUBTYPE_IEEE_FLOAT, compared by value so no GUID library is needed.
constexpr GUID kFloatSubtype = {0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

// PKEY_Device_FriendlyName, by value so no GUID library is needed.
const PROPERTYKEY kFriendlyName = {{0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 14};

HRESULT SystemEnumerator(IMMDeviceEnumerator** enumerator) {
    return CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, IID_PPV_ARGS(enumerator));
}

ComPtr<IMMDeviceEnumerator> DeviceEnumerator() {
    ComPtr<IMMDeviceEnumerator> enumerator;
    if (FAILED(AudioFunctions().createEnumerator(&enumerator))) enumerator.Reset();
    return enumerator;
}

// Windows keeps the ids of unplugged and disabled endpoints and still finds
// them by id; only an active one can record.
ComPtr<IMMDevice> ActiveDevice(IMMDeviceEnumerator* enumerator, const std::wstring& id) {
    ComPtr<IMMDevice> device;
    DWORD state = 0;
    if (id.empty() || FAILED(enumerator->GetDevice(id.c_str(), &device)) || !device ||
        FAILED(device->GetState(&state)) || state != DEVICE_STATE_ACTIVE)
        return {};
    return device;
}

}  // namespace

AudioPlatform& AudioFunctions() {
    static AudioPlatform functions{SystemEnumerator};
    return functions;
}

bool AudioSource::Open(bool loopback, const std::wstring& deviceId, std::wstring& problem) {
    Close();
    ComPtr<IMMDeviceEnumerator> enumerator = DeviceEnumerator();
    ComPtr<IMMDevice> device;
    DWORD streamFlags = 0;
    if (enumerator) {
        if (loopback) {
            ComputerSoundEndpoint(enumerator.Get(), device, streamFlags);
        } else {
            device = ActiveDevice(enumerator.Get(), deviceId);
            if (!device) enumerator->GetDefaultAudioEndpoint(eCapture, eConsole, &device);
        }
    }
    if (!device) {
        problem = loopback ? L"No speakers or headphones were found, so computer sound can't be recorded."
                           : L"No microphone was found.";
        return false;
    }
    ComPtr<IAudioClient> client;
    WAVEFORMATEX* format = nullptr;
    HRESULT hr = device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, reinterpret_cast<void**>(client.GetAddressOf()));
    if (SUCCEEDED(hr)) hr = client->GetMixFormat(&format);
    if (FAILED(hr) || format == nullptr) {
        problem = L"The sound device could not be opened: " + ErrorText(static_cast<uint32_t>(FAILED(hr) ? hr : E_POINTER));
        return false;
    }
    bool isFloat = format->wFormatTag == WAVE_FORMAT_IEEE_FLOAT;
    uint32_t channelMask = 0;
    if (format->wFormatTag == WAVE_FORMAT_EXTENSIBLE && format->cbSize >= 22) {
        const auto* extensible = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(format);
        isFloat = IsEqualGUID(extensible->SubFormat, kFloatSubtype);
        channelMask = extensible->dwChannelMask;
    }
    gains_ = DownmixGains(format->nChannels, channelMask);
    kind_ = KindOf(isFloat, format->wBitsPerSample);
    const auto sampleRate = static_cast<int32_t>(format->nSamplesPerSec);
    hr = client->Initialize(AUDCLNT_SHAREMODE_SHARED, streamFlags, kBufferDuration, 0, format, nullptr);
    CoTaskMemFree(format);
    ComPtr<IAudioCaptureClient> capture;
    if (SUCCEEDED(hr)) hr = client->GetService(IID_PPV_ARGS(&capture));
    if (SUCCEEDED(hr)) hr = client->Start();
    if (FAILED(hr)) {
        problem = L"The sound device could not be started: " + ErrorText(static_cast<uint32_t>(hr));
        return false;
    }
    LPWSTR id = nullptr;
    if (SUCCEEDED(device->GetId(&id)) && id != nullptr) endpointId_ = id;
    CoTaskMemFree(id);
    device_ = device;
    audioClient_ = client;
    captureClient_ = capture;
    resampler_.Reset(sampleRate);
    return true;
}

void AudioSource::StartSyncTone() {
    Close();
    synthetic_ = true;
    tone_.Start(SteadyHundredNs());
}

void AudioSource::Read(std::vector<float>& block, int64_t& endTime) {
    endTime = 0;
    if (synthetic_) {
        endTime = tone_.Read(SteadyHundredNs(), block);
        return;
    }
    if (!captureClient_ || FAILED(lost_)) return;
    UINT32 packet = 0;
    HRESULT hr = S_OK;
    // Any failing call means the stream is gone: Windows answers
    // AUDCLNT_E_DEVICE_INVALIDATED from then on once its device is unplugged,
    // disabled or reconfigured, and the stream never recovers by itself.
    while (SUCCEEDED(hr = captureClient_->GetNextPacketSize(&packet)) && packet > 0) {
        BYTE* data = nullptr;
        UINT32 frames = 0;
        DWORD flags = 0;
        UINT64 position = 0;
        hr = captureClient_->GetBuffer(&data, &frames, &flags, nullptr, &position);
        if (hr == AUDCLNT_S_BUFFER_EMPTY) break;
        if (FAILED(hr)) break;
        if (position != 0 && !(flags & AUDCLNT_BUFFERFLAGS_TIMESTAMP_ERROR))
            endTime = static_cast<int64_t>(position) + static_cast<int64_t>(frames) * 10000000 / resampler_.sampleRate;
        AppendStereo(data, frames, gains_, kind_, (flags & AUDCLNT_BUFFERFLAGS_SILENT) != 0, resampler_.pending);
        hr = captureClient_->ReleaseBuffer(frames);
        if (FAILED(hr)) break;
    }
    if (FAILED(hr)) lost_ = hr;
    endTime = resampler_.Drain(block, endTime);
}

void AudioSource::CheckPresent() {
    if (!device_ || !audioClient_ || FAILED(lost_)) return;
    // A stream whose device went away may still answer "no packet" for good
    // (Wine's does); asking for its padding shows it.
    UINT32 padding = 0;
    DWORD state = 0;
    HRESULT hr = audioClient_->GetCurrentPadding(&padding);
    if (SUCCEEDED(hr)) hr = device_->GetState(&state);
    if (FAILED(hr)) lost_ = hr;
    else if (state != DEVICE_STATE_ACTIVE) lost_ = AUDCLNT_E_DEVICE_INVALIDATED;
}

void AudioSource::Close() {
    if (audioClient_) audioClient_->Stop();
    captureClient_.Reset();
    audioClient_.Reset();
    device_.Reset();
    endpointId_.clear();
    synthetic_ = false;
    lost_ = S_OK;
    resampler_.pending.clear();
}

namespace {

std::wstring IdOf(IMMDevice* device) {
    LPWSTR id = nullptr;
    std::wstring result;
    if (device != nullptr && SUCCEEDED(device->GetId(&id)) && id != nullptr) result = id;
    CoTaskMemFree(id);
    return result;
}

}  // namespace

std::wstring ComputerSoundEndpointId() {
    ComPtr<IMMDeviceEnumerator> enumerator = DeviceEnumerator();
    ComPtr<IMMDevice> device;
    DWORD flags = 0;
    if (!enumerator || !ComputerSoundEndpoint(enumerator.Get(), device, flags) || !device) return {};
    return IdOf(device.Get());
}

std::wstring MicrophoneEndpointId(const std::wstring& chosen) {
    ComPtr<IMMDeviceEnumerator> enumerator = DeviceEnumerator();
    if (!enumerator) return {};
    ComPtr<IMMDevice> device = ActiveDevice(enumerator.Get(), chosen);
    if (!device && FAILED(enumerator->GetDefaultAudioEndpoint(eCapture, eConsole, &device))) return {};
    return IdOf(device.Get());
}

// The system calls it on a thread of its own; it only raises a flag, as the
// notification interface asks of its callbacks.
class DefaultDeviceWatch::Client final : public IMMNotificationClient {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IMMNotificationClient)) {
            *object = static_cast<IMMNotificationClient*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow, ERole role, LPCWSTR) override {
        if (role == eConsole) changed = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR, DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) override { return S_OK; }

    std::atomic<bool> changed{false};

private:
    std::atomic<ULONG> references_{1};
};

DefaultDeviceWatch::DefaultDeviceWatch() : enumerator_(DeviceEnumerator()) {
    if (!enumerator_) return;
    client_ = new (std::nothrow) Client;
    if (client_ != nullptr && FAILED(enumerator_->RegisterEndpointNotificationCallback(client_))) {
        client_->Release();
        client_ = nullptr;
    }
}

DefaultDeviceWatch::~DefaultDeviceWatch() {
    if (client_ == nullptr) return;
    // Once this returns the system makes no more calls to the client.
    enumerator_->UnregisterEndpointNotificationCallback(client_);
    client_->Release();
}

bool DefaultDeviceWatch::TakeChange() { return client_ != nullptr && client_->changed.exchange(false); }

std::vector<MicrophoneEntry> ListMicrophones() {
    std::vector<MicrophoneEntry> list;
    ComPtr<IMMDeviceEnumerator> enumerator = DeviceEnumerator();
    ComPtr<IMMDeviceCollection> devices;
    if (!enumerator || FAILED(enumerator->EnumAudioEndpoints(eCapture, DEVICE_STATE_ACTIVE, &devices))) return list;
    UINT count = 0;
    devices->GetCount(&count);
    for (UINT i = 0; i < count; ++i) {
        ComPtr<IMMDevice> device;
        if (FAILED(devices->Item(i, &device))) continue;
        LPWSTR id = nullptr;
        if (FAILED(device->GetId(&id)) || id == nullptr) continue;
        MicrophoneEntry entry{id, L"Microphone"};
        CoTaskMemFree(id);
        ComPtr<IPropertyStore> properties;
        if (SUCCEEDED(device->OpenPropertyStore(STGM_READ, &properties))) {
            PROPVARIANT value;
            PropVariantInit(&value);
            if (SUCCEEDED(properties->GetValue(kFriendlyName, &value)) && value.vt == VT_LPWSTR &&
                value.pwszVal != nullptr)
                entry.name = value.pwszVal;
            PropVariantClear(&value);
        }
        list.push_back(std::move(entry));
    }
    return list;
}
