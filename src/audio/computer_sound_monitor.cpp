// Test build stand-in: the computer's sound from the default capture
// endpoint, which the test environment points at its sound server's monitor
// of the output.
#include <mmdeviceapi.h>

#include "audio/audio_source.h"

bool ComputerSoundEndpoint(IMMDeviceEnumerator* enumerator, Microsoft::WRL::ComPtr<IMMDevice>& device, DWORD& streamFlags) {
    streamFlags = 0;
    return SUCCEEDED(enumerator->GetDefaultAudioEndpoint(eCapture, eConsole, &device));
}
