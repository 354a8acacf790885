#include "platform/waveout/DeviceList.h"

#include <cstring>

#include "platform/waveout/null/NullOutput.h"

namespace platform {
namespace {

std::vector<AudioBackend*>& TestBackends() {
    static auto* backends = new std::vector<AudioBackend*>();
    return *backends;
}

// Lists the backend's devices; its default becomes the mapper unless one came before. False
// when the backend has nothing to offer.
bool Add(AudioBackend* backend, DeviceList* list, std::optional<DeviceEntry>* mapper) {
    BackendDevices found;
    if (!backend->ListDevices(&found)) {
        return false;
    }
    auto entry = [&](const BackendDevice& device) {
        return DeviceEntry{device.name, backend, device.target, device.maxChannels};
    };
    for (const BackendDevice& device : found.devices) {
        list->devices.push_back(entry(device));
    }
    if (found.preferred.has_value() && !mapper->has_value()) {
        *mapper = entry(*found.preferred);
    }
    return true;
}

DeviceList TakeSnapshot() {
    DeviceList list;
    for (AudioBackend* system : SoundSystems()) {
        if (Add(system, &list, &list.mapper)) {
            break;
        }
    }
    for (AudioBackend* backend : TestBackends()) {
        Add(backend, &list, &list.mapper);
    }
    Add(&NullOutputBackend(), &list, &list.mapper);
    return list;
}

}  // namespace

const DeviceList& Devices() {
    static const DeviceList* list = new DeviceList(TakeSnapshot());
    return *list;
}

void AddTestBackend(AudioBackend* backend) {
    TestBackends().push_back(backend);
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
