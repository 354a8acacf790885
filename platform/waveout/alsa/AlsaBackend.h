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

// The playback devices (the test list when it is set, else the cards') and as the default
// ALSA's "default" when it opens, named after the card PCM behind it, else the first device.
// ALSA is asked only when no sound server answered (or a test names its PCMs), so a "default"
// that is ALSA's plugin for that server is not tried then: it could not play, and a server
// that never answers would hold the open.
bool ListAlsaDevices(BackendDevices* found);

// Opens any PCM by its name, through the plug layer when the name says so.
AudioBackend& AlsaBackend();

}  // namespace platform
