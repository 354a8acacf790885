// The waveOut* calls: argument checks, the device list and the handle registry; the work of
// an open handle is done by its WaveOutStream.
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>

#include <platform/waveout.h>
#include <platform/window.h>
#include "platform/waveout/DeviceList.h"
#include "platform/waveout/StreamFormat.h"
#include "platform/waveout/WaveOutStream.h"

namespace platform {
namespace {

struct Handles {
    std::mutex mutex;
    std::unordered_map<HWAVEOUT, std::shared_ptr<WaveOutStream>> open;
    uintptr_t next = 1;
};

Handles& TheHandles() {
    static auto* handles = new Handles();  // device threads may outlive static destruction
    return *handles;
}

std::shared_ptr<WaveOutStream> Find(HWAVEOUT handle) {
    Handles& handles = TheHandles();
    std::lock_guard<std::mutex> lock(handles.mutex);
    auto found = handles.open.find(handle);
    return found != handles.open.end() ? found->second : nullptr;
}

// The device for an id: 0..n-1 or the mapper. Null for an unknown id (BADDEVICEID), and for
// the mapper when no sound system answers (NODRIVER: no device can be reached).
const DeviceEntry* DeviceFor(UINT_PTR id, MMRESULT* error) {
    const DeviceList& list = Devices();
    const DeviceEntry* device = nullptr;
    if (id == WAVE_MAPPER || id == static_cast<UINT_PTR>(-1)) {
        device = list.mapper.has_value() ? &*list.mapper : nullptr;
        *error = MMSYSERR_NODRIVER;
    } else {
        device = id < list.devices.size() ? &list.devices[id] : nullptr;
        *error = MMSYSERR_BADDEVICEID;
    }
    return device;
}

MMRESULT CheckHeader(LPWAVEHDR header, UINT size) {
    if (header == nullptr || size < sizeof(WAVEHDR)) {
        return MMSYSERR_INVALPARAM;
    }
    return MMSYSERR_NOERROR;
}

}  // namespace
}  // namespace platform

using platform::Find;

UINT waveOutGetNumDevs() {
    return static_cast<UINT>(platform::Devices().devices.size());
}

MMRESULT waveOutGetDevCapsA(UINT_PTR deviceId, LPWAVEOUTCAPSA caps, UINT size) {
    MMRESULT missing = MMSYSERR_NOERROR;
    const platform::DeviceEntry* device = platform::DeviceFor(deviceId, &missing);
    if (device == nullptr) {
        return missing;
    }
    if (caps == nullptr || size < sizeof(WAVEOUTCAPSA)) {
        return MMSYSERR_INVALPARAM;
    }
    WAVEOUTCAPSA filled{};
    filled.wMid = 0xFFFF;  // no registered manufacturer
    filled.wPid = 0xFFFF;
    filled.vDriverVersion = 0x0100;
    platform::CopyDeviceName(device->name, filled.szPname);
    filled.dwFormats = 0x000FFFFF;  // every classic rate, size and channel combination
    filled.wChannels = std::min<uint16_t>(device->maxChannels == 0 ? 2 : device->maxChannels, 32);
    filled.dwSupport = WAVECAPS_VOLUME | WAVECAPS_LRVOLUME | WAVECAPS_SAMPLEACCURATE;
    std::memcpy(caps, &filled, sizeof filled);
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutOpen(LPHWAVEOUT handle, UINT deviceId, LPCWAVEFORMATEX format, DWORD_PTR callback,
                     DWORD_PTR /*instance*/, DWORD flags) {
    MMRESULT missing = MMSYSERR_NOERROR;
    const platform::DeviceEntry* device = platform::DeviceFor(deviceId, &missing);
    if (device == nullptr) {
        return missing;
    }
    if (format == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    platform::StreamFormat stream;
    MMRESULT result = platform::ReadStreamFormat(format, &stream);
    if (result != MMSYSERR_NOERROR) {
        return result;
    }
    // A query asks the backend; an open leaves that to the backend's own open, which refuses
    // a format it cannot take with the same error (asking first would open ALSA's PCM twice).
    if ((flags & WAVE_FORMAT_QUERY) != 0) {
        return device->backend->Accepts(device->target, stream.ForSink()) ? MMSYSERR_NOERROR
                                                                          : WAVERR_BADFORMAT;
    }
    if (handle == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    HWND window = nullptr;
    switch (flags & CALLBACK_TYPEMASK) {
        case CALLBACK_NULL:
            break;
        case CALLBACK_WINDOW:
            // A caller that waits for notifications would wait for ever without a window:
            // better a clear error now.
            window = reinterpret_cast<HWND>(callback);
            if (!IsWindow(window)) {
                return MMSYSERR_INVALPARAM;
            }
            break;
        default:
            return MMSYSERR_NOTSUPPORTED;  // function, thread and event callbacks
    }

    platform::Handles& handles = platform::TheHandles();
    HWAVEOUT newHandle = nullptr;
    {
        std::lock_guard<std::mutex> lock(handles.mutex);
        newHandle = reinterpret_cast<HWAVEOUT>(handles.next++ << 4);
    }
    auto opened = std::make_shared<platform::WaveOutStream>(newHandle, stream, window);
    {
        // Registered first, so the handle in MM_WOM_OPEN is already valid when it arrives.
        std::lock_guard<std::mutex> lock(handles.mutex);
        handles.open.emplace(newHandle, opened);
    }
    result = opened->Open(*device);
    if (result != MMSYSERR_NOERROR) {
        std::lock_guard<std::mutex> lock(handles.mutex);
        handles.open.erase(newHandle);
        return result;
    }
    *handle = newHandle;
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutClose(HWAVEOUT handle) {
    std::shared_ptr<platform::WaveOutStream> stream = Find(handle);
    if (stream == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    const MMRESULT result = stream->Close();
    if (result == MMSYSERR_NOERROR) {
        platform::Handles& handles = platform::TheHandles();
        std::lock_guard<std::mutex> lock(handles.mutex);
        handles.open.erase(handle);
    }
    return result;
}

MMRESULT waveOutPrepareHeader(HWAVEOUT handle, LPWAVEHDR header, UINT size) {
    if (Find(handle) == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    if (MMRESULT bad = platform::CheckHeader(header, size); bad != MMSYSERR_NOERROR) {
        return bad;
    }
    if ((header->dwFlags & WHDR_PREPARED) != 0) {
        return MMSYSERR_NOERROR;  // already prepared: nothing changes
    }
    if (header->lpData == nullptr && header->dwBufferLength != 0) {
        return MMSYSERR_INVALPARAM;
    }
    header->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutUnprepareHeader(HWAVEOUT handle, LPWAVEHDR header, UINT size) {
    if (Find(handle) == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    if (MMRESULT bad = platform::CheckHeader(header, size); bad != MMSYSERR_NOERROR) {
        return bad;
    }
    if ((header->dwFlags & WHDR_INQUEUE) != 0) {
        return WAVERR_STILLPLAYING;
    }
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutWrite(HWAVEOUT handle, LPWAVEHDR header, UINT size) {
    std::shared_ptr<platform::WaveOutStream> stream = Find(handle);
    if (stream == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    if (MMRESULT bad = platform::CheckHeader(header, size); bad != MMSYSERR_NOERROR) {
        return bad;
    }
    if ((header->dwFlags & WHDR_PREPARED) == 0) {
        return WAVERR_UNPREPARED;
    }
    if ((header->dwFlags & WHDR_INQUEUE) != 0) {
        return WAVERR_STILLPLAYING;
    }
    if (header->lpData == nullptr && header->dwBufferLength != 0) {
        return MMSYSERR_INVALPARAM;
    }
    return stream->Write(header);
}

MMRESULT waveOutPause(HWAVEOUT handle) {
    std::shared_ptr<platform::WaveOutStream> stream = Find(handle);
    return stream != nullptr ? stream->Pause() : MMSYSERR_INVALHANDLE;
}

MMRESULT waveOutRestart(HWAVEOUT handle) {
    std::shared_ptr<platform::WaveOutStream> stream = Find(handle);
    return stream != nullptr ? stream->Restart() : MMSYSERR_INVALHANDLE;
}

MMRESULT waveOutReset(HWAVEOUT handle) {
    std::shared_ptr<platform::WaveOutStream> stream = Find(handle);
    return stream != nullptr ? stream->Reset() : MMSYSERR_INVALHANDLE;
}

MMRESULT waveOutGetPosition(HWAVEOUT handle, LPMMTIME time, UINT size) {
    std::shared_ptr<platform::WaveOutStream> stream = Find(handle);
    if (stream == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    if (time == nullptr || size < sizeof(MMTIME)) {
        return MMSYSERR_INVALPARAM;
    }
    return stream->GetPosition(time);
}

MMRESULT waveOutSetVolume(HWAVEOUT handle, DWORD volume) {
    std::shared_ptr<platform::WaveOutStream> stream = Find(handle);
    if (stream == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    stream->SetVolume(volume);
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutGetVolume(HWAVEOUT handle, DWORD* volume) {
    std::shared_ptr<platform::WaveOutStream> stream = Find(handle);
    if (stream == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    if (volume == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    *volume = stream->Volume();
    return MMSYSERR_NOERROR;
}

MMRESULT waveOutMessage(HWAVEOUT handle, UINT message, DWORD_PTR param1, DWORD_PTR /*param2*/) {
    std::shared_ptr<platform::WaveOutStream> stream = Find(handle);
    if (stream == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    if (message == WODM_TIMESTRETCH) {
        return param1 > 0xFFFFFFFFu ? MMSYSERR_INVALPARAM
                                    : stream->SetStretch(static_cast<DWORD>(param1));
    }
    return MMSYSERR_NOTSUPPORTED;
}
