// The ALSA backend (libasound), used when no sound server answers: one device per playback
// PCM of each sound card, opened through ALSA's plug layer so that any rate, sample format
// and channel count the card can be converted to is accepted.
#pragma once

#include <string>
#include <vector>

#include "platform/waveout/AudioSink.h"

namespace platform {

// What a card says about itself and its playback PCMs (its own descriptions).
struct AlsaPcmDescription {
    int device;
    std::string name;
};
struct AlsaCardDescription {
    int index;
    std::string name;
    std::vector<AlsaPcmDescription> playback;
};

struct AlsaDevice {
    std::string name;    // "card name: PCM name"
    std::string target;  // the PCM name to open, through the plug layer
};

// The kernel's sound cards and their playback PCMs, read through the control interface.
// Plugin pseudo-devices of ALSA's configuration are not cards and never appear here.
std::vector<AlsaCardDescription> ReadAlsaCards();

// One device per playback PCM, in card and device order.
std::vector<AlsaDevice> AlsaPlaybackDevices(std::vector<AlsaCardDescription> cards);

// For tests only: the environment variable WAVEOUT_ALSA_DEVICES, a comma-separated list of
// ALSA PCM names. When it is set, the sound server is not asked and these PCMs (named by
// themselves) stand in for the cards' devices. Empty when it is not set.
std::vector<AlsaDevice> AlsaTestDevices();
bool AlsaTestDevicesSet();

// True when the PCM opens for playback now (it is closed again at once). `card` and `device`
// receive the card and device behind it, or -1 when it is no card's own PCM.
bool AlsaPcmOpens(const std::string& target, int* card, int* device);

// True when ALSA's configuration defines the PCM as its sound-server plugin (type pulse), which
// plays only through the very server the service asks first.
bool AlsaPcmIsServerPlugin(const std::string& target);

// ALSA's own messages on standard error are silenced: its failures reach the caller as error
// numbers. Called before any other ALSA call of the backend.
void QuietAlsaLibrary();

// The backend for one PCM; it lives for the process.
AudioBackend& AlsaBackendFor(const std::string& target);

}  // namespace platform
