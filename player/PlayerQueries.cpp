// What the engine reports: state, position, format, device and errors; and the volume.
#include <cmath>
#include <cstdio>

#include "player/WavePlayer.h"

bool WavePlayer::Playing() const {
    return waveOut.load() != nullptr && state.load() == PLAYER_PLAYING;
}

int32_t WavePlayer::GetState() { return state.load(); }

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
        uint64_t samples = 0;
        bool inSamples = false;
        if (time.wType == TIME_BYTES) {
            const int32_t bytes = time.u.cb > INT32_MAX ? INT32_MAX : static_cast<int32_t>(time.u.cb);
            samples = static_cast<uint32_t>(file->SamplesFromBytes(bytes, file->SamplesPerFrame));
            inSamples = true;
        } else if (time.wType == TIME_SAMPLES) {
            samples = time.u.sample;
            inSamples = true;
        } else {
            position = time.u.ms;
        }
        if (inSamples) {
            // The rate is divided by 100 first, as the device's clock counts; samples x 10 is
            // computed in 64 bits so a long playback does not wrap. Below 100 Hz: 0.
            const uint32_t rateHundreds = file->SamplesPerSec() / 100u;
            position = rateHundreds == 0
                           ? 0
                           : static_cast<uint32_t>(samples * 10u / rateHundreds);
        }
    }
    if (milliseconds != nullptr) {
        *milliseconds = position;
    }
    return result;
}

int32_t WavePlayer::GetTimeText(char** text) {
    uint32_t position = 0;
    GetPositionMs(&position);
    const auto ms = static_cast<int32_t>(position);
    const long hours = (ms / 3600000) % 60;
    const long minutes = (ms / 60000) % 60;
    const long seconds = (ms / 1000) % 60;
    const long hundredths = (ms % 1000) / 10;
    std::snprintf(timeText, sizeof timeText, "%02ld:%02ld:%02ld:%02ld", hours, minutes, seconds,
                  hundredths);
    if (text != nullptr) {
        *text = timeText;
    }
    return 0;
}

int32_t WavePlayer::GetFormatText(char** text) {
    char* formatText = nullptr;
    if (file) {
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
    const MMRESULT result = waveOutGetDevCapsA(static_cast<UINT_PTR>(static_cast<intptr_t>(deviceId)),
                                               &deviceCaps, sizeof deviceCaps);
    if (result != MMSYSERR_NOERROR) {
        return RecordServiceError(result);
    }
    if (caps != nullptr) {
        *caps = &deviceCaps;
    }
    return 0;
}

int32_t WavePlayer::GetErrorText(char** text) {
    if (errorKind == 1) {
        TWavFileBase::GetErrorText(errorCode, errorText);
    } else {
        waveOutGetErrorTextA(static_cast<MMRESULT>(errorCode), errorText, sizeof errorText);
    }
    if (text != nullptr) {
        *text = errorText;
    }
    return 0;
}

int32_t WavePlayer::GetDataBytes() { return file ? file->GetDataLength() : 0; }

uint32_t WavePlayer::SetVolume(float level) {
    if (!(level >= 0.0f)) {
        level = 0.0f;  // below zero, or not a number
    } else if (level > 1.0f) {
        level = 1.0f;
    }
    if (!Playing()) {
        return 0;
    }
    const auto word = static_cast<uint32_t>(level * 65535.0f);
    return waveOutSetVolume(waveOut.load(), word * 0x10001u);
}
