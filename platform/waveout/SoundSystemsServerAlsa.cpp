// The sound systems of a build with ALSA: the sound server, and ALSA when no server answers.
// A test that names ALSA PCMs (WAVEOUT_ALSA_DEVICES) gets ALSA alone: the server is not asked.
#include "platform/waveout/DeviceList.h"
#include "platform/waveout/alsa/AlsaBackend.h"
#include "platform/waveout/pulse/PulseBackend.h"

namespace platform {

std::vector<AudioBackend*> SoundSystems() {
    if (AlsaTestDevicesSet()) {
        return {&AlsaBackend()};
    }
    return {&PulseBackend(), &AlsaBackend()};
}

}  // namespace platform
