#include "platform/waveout/DeviceList.h"

#include <cstring>
#include <mutex>

#include "platform/waveout/null/NullOutput.h"
#include "platform/waveout/pulse/PulseBackend.h"

namespace platform {
namespace {

DeviceEntry NullOutputEntry() {
    return DeviceEntry{"Null Output", &NullOutputBackend(), "", 32};
}

DeviceList TakeSnapshot() {
    DeviceList list;
    list.mapper = NullOutputEntry();
    std::vector<PulseSinkInfo> sinks;
    if (ListPulseSinks(&sinks) && !sinks.empty()) {
        for (const PulseSinkInfo& sink : sinks) {
            list.devices.push_back(
                DeviceEntry{sink.description, &PulseBackend(), sink.name, sink.channels});
            if (sink.isDefault) {
                list.mapper.name = sink.description;
            }
        }
        // The mapper follows the server's default sink, wherever the server sends it.
        list.mapper.backend = &PulseBackend();
        list.mapper.target.clear();
        if (list.mapper.name == "Null Output") {
            list.mapper.name = sinks.front().description;
        }
    }
    // Machines without a sound server: the ALSA playback devices go here, and the mapper
    // becomes ALSA's default device, once that backend exists.
    list.devices.push_back(NullOutputEntry());
    return list;
}

}  // namespace

const DeviceList& Devices() {
    static const DeviceList* list = new DeviceList(TakeSnapshot());
    return *list;
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
