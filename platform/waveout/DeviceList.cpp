#include "platform/waveout/DeviceList.h"

#include <cstring>
#include <mutex>

#ifdef QUINDLE_WITH_ALSA
#include "platform/waveout/alsa/AlsaBackend.h"
#endif
#include "platform/waveout/null/NullOutput.h"
#include "platform/waveout/pulse/PulseBackend.h"

namespace platform {
namespace {

DeviceEntry NullOutputEntry() {
    return DeviceEntry{"Null Output", &NullOutputBackend(), "", 32};
}

#ifdef QUINDLE_WITH_ALSA
// ALSA's playback devices; the mapper is ALSA's "default" when it opens, else the first one.
// When the sound server did not answer, a "default" that is ALSA's plugin for that server is
// not tried: it could not play, and a server that never answers would hold the open.
void AddAlsaDevices(DeviceList* list, bool serverSilent) {
    const std::vector<AlsaDevice> devices =
        AlsaTestDevicesSet() ? AlsaTestDevices() : AlsaPlaybackDevices(ReadAlsaCards());
    for (const AlsaDevice& device : devices) {
        list->devices.push_back(
            DeviceEntry{device.name, &AlsaBackendFor(device.target), device.target, 2});
    }
    int card = -1, pcm = -1;
    if (!(serverSilent && AlsaPcmIsServerPlugin("default")) &&
        AlsaPcmOpens("default", &card, &pcm)) {
        const std::string behind = "plughw:" + std::to_string(card) + "," + std::to_string(pcm);
        list->mapper = DeviceEntry{"ALSA default", &AlsaBackendFor("default"), "default", 2};
        for (const AlsaDevice& device : devices) {
            if (device.target == behind) {
                list->mapper.name = device.name;
            }
        }
    } else if (!devices.empty()) {
        list->mapper = list->devices.front();
    }
}
#endif

// The sound server's sinks by description; false when no server answers or it has none.
bool AddServerSinks(DeviceList* list) {
    std::vector<PulseSinkInfo> sinks;
    if (!ListPulseSinks(&sinks) || sinks.empty()) {
        return false;
    }
    for (const PulseSinkInfo& sink : sinks) {
        list->devices.push_back(
            DeviceEntry{sink.description, &PulseBackend(), sink.name, sink.channels});
        if (sink.isDefault) {
            list->mapper.name = sink.description;
        }
    }
    // The mapper follows the server's default sink, wherever the server sends it.
    list->mapper.backend = &PulseBackend();
    list->mapper.target.clear();
    if (list->mapper.name == "Null Output") {
        list->mapper.name = sinks.front().description;
    }
    return true;
}

DeviceEntry& TestDevice() {
    static auto* entry = new DeviceEntry{"", nullptr, "", 32};
    return *entry;
}

DeviceList TakeSnapshot() {
    DeviceList list;
    list.mapper = NullOutputEntry();
#ifdef QUINDLE_WITH_ALSA
    // ALSA's devices when no sound server answers, or when a test names its own.
    if (AlsaTestDevicesSet()) {
        AddAlsaDevices(&list, false);
    } else if (!AddServerSinks(&list)) {
        AddAlsaDevices(&list, true);
    }
#else
    AddServerSinks(&list);
#endif
    if (TestDevice().backend != nullptr) {
        list.devices.push_back(TestDevice());
    }
    list.devices.push_back(NullOutputEntry());
    return list;
}

}  // namespace

const DeviceList& Devices() {
    static const DeviceList* list = new DeviceList(TakeSnapshot());
    return *list;
}

void AddTestDevice(const std::string& name, AudioBackend* backend) {
    TestDevice().name = name;
    TestDevice().backend = backend;
}

void CopyDeviceName(const std::string& name, char (&target)[32]) {
    size_t length = std::min<size_t>(name.size(), 31);
    // Back off to the start of a UTF-8 character: continuation bytes are 10xxxxxx.
    if (length < name.size()) {
        while (length > 0 && (static_cast<unsigned char>(name[length]) & 0xC0) == 0x80) {
            --length;
        }
    }
    std::memset(target, 0, sizeof target);
    std::memcpy(target, name.data(), length);
}

}  // namespace platform
