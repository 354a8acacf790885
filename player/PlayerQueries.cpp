// What the engine reports: state, position, format, device and errors; and the volume.
#include "player/WavePlayer.h"

#include "player/PlayerArithmetic.h"

bool WavePlayer::Playing() const {
    return waveOut.load() != nullptr && state.load() == PLAYER_PLAYING;
}

int32_t WavePlayer::GetState() {
    return state.load();
}

uint32_t WavePlayer::GetPositionBytes(uint32_t* bytes) {
    uint32_t position = 0;
    MMRESULT result = MMSYSERR_NOERROR;
    if (Playing()) {
        MMTIME time = {};
        time.wType = TIME_BYTES;
        result = waveOutGetPosition(waveOut.load(), &time, sizeof time);
        position = time.wType == TIME_BYTES ? time.u.cb : 0;
    }
    if (bytes != nullptr) {
        *bytes = position;
    }
    return result;
}

uint32_t WavePlayer::GetPositionMs(uint32_t* milliseconds) {
    uint32_t position = 0;
    MMRESULT result = MMSYSERR_NOERROR;
    if (Playing() && file) {
        MMTIME time = {};
        time.wType = TIME_MS;
        result = waveOutGetPosition(waveOut.load(), &time, sizeof time);
        position = MillisecondsFromPosition(time, *file);
    }
    if (milliseconds != nullptr) {
        *milliseconds = position;
    }
    return result;
}

int32_t WavePlayer::GetTimeText(char** text) {
    uint32_t position = 0;
    GetPositionMs(&position);
    FormatTimeText(position, timeText, sizeof timeText);
    if (text != nullptr) {
        *text = timeText;
    }
    return 0;
}

// A file that failed to open or to read its header is still held, but it has no format to
// describe (its record is the cleared one): no text then, rather than "0-Ch, 0, ".
int32_t WavePlayer::GetFormatText(char** text) {
    char* formatText = nullptr;
    if (file && file->FormatTag() != 0) {
        file->GetFormatText(&formatText);
    }
    if (text != nullptr) {
        *text = formatText;
    }
    return 0;
}

int32_t WavePlayer::GetFormatInfo(char* name, int32_t* channels, int32_t* sampleRate,
                                  int32_t* bitRate) {
    if (file) {
        file->GetFormatInfo(name, channels, sampleRate, bitRate);
    } else if (name != nullptr) {
        name[0] = '\0';
    }
    return 0;
}

int32_t WavePlayer::GetDeviceCaps(WAVEOUTCAPSA** caps) {
    if (waveOut.load() == nullptr) {
        if (caps != nullptr) {
            *caps = nullptr;
        }
        return MMSYSERR_INVALHANDLE;
    }
    const MMRESULT result = waveOutGetDevCapsA(
        static_cast<UINT_PTR>(static_cast<intptr_t>(deviceId)), &deviceCaps, sizeof deviceCaps);
    if (result != MMSYSERR_NOERROR) {
        return RecordServiceError(result);
    }
    if (caps != nullptr) {
        *caps = &deviceCaps;
    }
    return 0;
}

int32_t WavePlayer::GetErrorText(char** text) {
    int32_t code = 0, kind = 0;
    {
        std::lock_guard<std::mutex> lock(errorLock);
        code = errorCode;
        kind = errorKind;
    }
    if (kind == 1) {
        TWavFileBase::GetErrorText(code, errorText);
    } else {
        waveOutGetErrorTextA(static_cast<MMRESULT>(code), errorText, sizeof errorText);
    }
    if (text != nullptr) {
        *text = errorText;
    }
    return 0;
}

int32_t WavePlayer::GetErrorKind() {
    std::lock_guard<std::mutex> lock(errorLock);
    return errorKind;
}

int32_t WavePlayer::GetDataBytes() {
    return file ? file->GetDataLength() : 0;
}

uint32_t WavePlayer::SetVolume(float level) {
    if (!Playing()) {
        return 0;
    }
    return waveOutSetVolume(waveOut.load(), VolumeWord(level));
}
