// The computer's sound as Windows offers it: loopback of the default speakers.
#include <mmdeviceapi.h>

#include "audio/audio_source.h"

bool ComputerSoundEndpoint(IMMDeviceEnumerator* enumerator, Microsoft::WRL::ComPtr<IMMDevice>& device, DWORD& streamFlags) {
    streamFlags = AUDCLNT_STREAMFLAGS_LOOPBACK;
    return SUCCEEDED(enumerator->GetDefaultAudioEndpoint(eRender, eConsole, &device));
}
