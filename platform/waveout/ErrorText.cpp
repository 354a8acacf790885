// Our own texts for every number the service returns.
#include <algorithm>
#include <cstring>

#include <platform/waveout.h>

namespace {

const char* TextOf(MMRESULT error) {
    switch (error) {
        case MMSYSERR_NOERROR:
            return "The operation completed.";
        case MMSYSERR_ERROR:
            return "The wave-output device reported an error.";
        case MMSYSERR_BADDEVICEID:
            return "There is no wave-output device with this number.";
        case MMSYSERR_NOTENABLED:
            return "The wave-output device is not enabled.";
        case MMSYSERR_ALLOCATED:
            return "The wave-output device is in use.";
        case MMSYSERR_INVALHANDLE:
            return "The wave-output handle is not open.";
        case MMSYSERR_NODRIVER:
            return "The sound device cannot be reached.";
        case MMSYSERR_NOMEM:
            return "Not enough memory for the wave output.";
        case MMSYSERR_NOTSUPPORTED:
            return "The wave-output device does not support this.";
        case MMSYSERR_BADERRNUM:
            return "This error number is unknown.";
        case MMSYSERR_INVALFLAG:
            return "An invalid flag was passed to the wave output.";
        case MMSYSERR_INVALPARAM:
            return "An invalid parameter was passed to the wave output.";
        case MMSYSERR_HANDLEBUSY:
            return "The wave-output handle is busy on another thread.";
        case WAVERR_BADFORMAT:
            return "The device cannot play this wave format.";
        case WAVERR_STILLPLAYING:
            return "Buffers are still queued on the device.";
        case WAVERR_UNPREPARED:
            return "The buffer header has not been prepared.";
        case WAVERR_SYNC:
            return "The device cannot be opened synchronously.";
        default:
            return nullptr;
    }
}

}  // namespace

MMRESULT waveOutGetErrorTextA(MMRESULT error, LPSTR text, UINT size) {
    if (text == nullptr || size == 0) {
        return MMSYSERR_INVALPARAM;
    }
    const char* message = TextOf(error);
    const MMRESULT result = message != nullptr ? MMSYSERR_NOERROR : MMSYSERR_BADERRNUM;
    if (message == nullptr) {
        message = TextOf(MMSYSERR_BADERRNUM);
    }
    const size_t length = std::min<size_t>(std::strlen(message), size - 1);
    std::memcpy(text, message, length);
    text[length] = '\0';
    return result;
}
