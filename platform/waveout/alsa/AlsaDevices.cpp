// The card enumeration, kept apart from the reading of the cards so that naming and order
// can be tested with any description.
#include <alsa/asoundlib.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/waveout/alsa/AlsaBackend.h"

namespace platform {
namespace {

std::string Trimmed(const char* text) {
    std::string value = text != nullptr ? text : "";
    const size_t first = value.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return {};
    }
    const size_t last = value.find_last_not_of(" \t\r\n");
    return value.substr(first, last - first + 1);
}

std::vector<AlsaPcmDescription> ReadPlaybackPcms(snd_ctl_t* control) {
    std::vector<AlsaPcmDescription> pcms;
    snd_pcm_info_t* info = nullptr;
    if (snd_pcm_info_malloc(&info) < 0) {
        return pcms;
    }
    int device = -1;
    while (snd_ctl_pcm_next_device(control, &device) >= 0 && device >= 0) {
        snd_pcm_info_set_device(info, static_cast<unsigned>(device));
        snd_pcm_info_set_subdevice(info, 0);
        snd_pcm_info_set_stream(info, SND_PCM_STREAM_PLAYBACK);
        // Capture-only devices have no playback stream and answer with an error.
        if (snd_ctl_pcm_info(control, info) >= 0) {
            pcms.push_back({device, Trimmed(snd_pcm_info_get_name(info))});
        }
    }
    snd_pcm_info_free(info);
    return pcms;
}

void IgnoreAlsaMessage(const char* /*file*/, int /*line*/, const char* /*function*/, int /*error*/,
                       const char* /*format*/, ...) {}

}  // namespace

void QuietAlsaLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(IgnoreAlsaMessage); });
}

std::vector<AlsaCardDescription> ReadAlsaCards() {
    QuietAlsaLibrary();
    std::vector<AlsaCardDescription> cards;
    int index = -1;
    while (snd_card_next(&index) >= 0 && index >= 0) {
        snd_ctl_t* control = nullptr;
        const std::string name = "hw:" + std::to_string(index);
        if (snd_ctl_open(&control, name.c_str(), SND_CTL_NONBLOCK) < 0) {
            continue;
        }
        snd_ctl_card_info_t* info = nullptr;
        if (snd_ctl_card_info_malloc(&info) >= 0) {
            if (snd_ctl_card_info(control, info) >= 0) {
                cards.push_back(AlsaCardDescription{
                    index, Trimmed(snd_ctl_card_info_get_name(info)), ReadPlaybackPcms(control)});
            }
            snd_ctl_card_info_free(info);
        }
        snd_ctl_close(control);
    }
    return cards;
}

std::vector<AlsaDevice> AlsaPlaybackDevices(std::vector<AlsaCardDescription> cards) {
    std::sort(cards.begin(), cards.end(),
              [](const auto& a, const auto& b) { return a.index < b.index; });
    std::vector<AlsaDevice> devices;
    for (AlsaCardDescription& card : cards) {
        std::sort(card.playback.begin(), card.playback.end(),
                  [](const auto& a, const auto& b) { return a.device < b.device; });
        const std::string cardName =
            card.name.empty() ? "Card " + std::to_string(card.index) : card.name;
        for (const AlsaPcmDescription& pcm : card.playback) {
            const std::string pcmName =
                pcm.name.empty() ? "Device " + std::to_string(pcm.device) : pcm.name;
            devices.push_back({cardName + ": " + pcmName, "plughw:" + std::to_string(card.index) +
                                                              "," + std::to_string(pcm.device)});
        }
    }
    return devices;
}

bool AlsaTestDevicesSet() {
    return std::getenv("WAVEOUT_ALSA_DEVICES") != nullptr;
}

std::vector<AlsaDevice> AlsaTestDevices() {
    std::vector<AlsaDevice> devices;
    const char* list = std::getenv("WAVEOUT_ALSA_DEVICES");
    if (list == nullptr) {
        return devices;
    }
    const std::string text = list;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(',', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string name = Trimmed(text.substr(start, end - start).c_str());
        if (!name.empty()) {
            devices.push_back({name, name});
        }
        start = end + 1;
    }
    return devices;
}

namespace {

struct OpenProbe {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    bool opened = false;
    int card = -1;
    int device = -1;
};

void RunOpenProbe(const std::string& target, const std::shared_ptr<OpenProbe>& probe) {
    bool opened = false;
    int card = -1, device = -1;
    snd_pcm_t* pcm = nullptr;
    if (snd_pcm_open(&pcm, target.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) >= 0) {
        opened = true;
        snd_pcm_info_t* info = nullptr;
        if (snd_pcm_info_malloc(&info) >= 0) {
            if (snd_pcm_info(pcm, info) >= 0) {
                card = snd_pcm_info_get_card(info);
                device = static_cast<int>(snd_pcm_info_get_device(info));
            }
            snd_pcm_info_free(info);
        }
        snd_pcm_close(pcm);
    }
    std::lock_guard<std::mutex> lock(probe->mutex);
    probe->finished = true;
    probe->opened = opened;
    probe->card = card;
    probe->device = device;
    probe->done.notify_all();
}

}  // namespace

bool AlsaPcmIsServerPlugin(const std::string& target) {
    QuietAlsaLibrary();
    if (snd_config_update() < 0) {
        return false;
    }
    snd_config_t* definition = nullptr;
    if (snd_config_search_definition(snd_config, "pcm", target.c_str(), &definition) < 0) {
        return false;
    }
    snd_config_t* type = nullptr;
    const char* name = nullptr;
    const bool pulse = snd_config_search(definition, "type", &type) >= 0 &&
                       snd_config_get_string(type, &name) >= 0 && std::string(name) == "pulse";
    snd_config_delete(definition);
    return pulse;
}

// A PCM such as "default" may be a plugin that talks to a sound server; one that accepts the
// connection and never answers would hold the open for half a minute. The open runs on a
// thread of its own and counts as failed when it has not finished within the bound.
bool AlsaPcmOpens(const std::string& target, int* card, int* device) {
    QuietAlsaLibrary();
    *card = *device = -1;
    auto probe = std::make_shared<OpenProbe>();
    std::thread(RunOpenProbe, target, probe).detach();
    std::unique_lock<std::mutex> lock(probe->mutex);
    if (!probe->done.wait_for(lock, std::chrono::seconds(2), [&] { return probe->finished; }) ||
        !probe->opened) {
        return false;
    }
    *card = probe->card;
    *device = probe->device;
    return true;
}

bool ListAlsaDevices(BackendDevices* found) {
    const bool testList = AlsaTestDevicesSet();
    for (const AlsaDevice& device :
         testList ? AlsaTestDevices() : AlsaPlaybackDevices(ReadAlsaCards())) {
        found->devices.push_back(BackendDevice{device.name, device.target, 2});
    }
    int card = -1, pcm = -1;
    if ((testList || !AlsaPcmIsServerPlugin("default")) && AlsaPcmOpens("default", &card, &pcm)) {
        const std::string behind = "plughw:" + std::to_string(card) + "," + std::to_string(pcm);
        found->preferred = BackendDevice{"ALSA default", "default", 2};
        for (const BackendDevice& device : found->devices) {
            if (device.target == behind) {
                found->preferred->name = device.name;
            }
        }
    } else if (!found->devices.empty()) {
        found->preferred = found->devices.front();
    }
    return !found->devices.empty() || found->preferred.has_value();
}

}  // namespace platform
