#pragma once
// The ALSA back end: device ids map to PCM names through the configuration (AudioOutDeviceName). Devices that run
// faster than real time (ALSA's null and file plugins) are held to the sample rate, as a sound card would be.
#include "platform/audio/Audio.h"

namespace zz {

AudioBackend& AlsaAudioBackend();

} // namespace zz
