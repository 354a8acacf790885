// The tone generator: a name "~" followed by comma-separated settings (for example
// ~F440,S44100,TPCM16,C2) reads as an endless sine tone. Nothing is written, nothing sought.
#pragma once

#include <cstdint>
#include <vector>

#include "wavfile/ToneOscillator.h"
#include "wavfile/WavFileBase.h"

class TWavFileTypeGenerator : public TWavFileBase {
  public:
    // Parses the name when the mode is a read mode ('R' or 'r'); any other mode gives 9.
    TWavFileTypeGenerator(const char* name, const char* mode, int32_t* error);
    ~TWavFileTypeGenerator() override;

    int32_t Open(const char* name, uint32_t flags) override;
    int32_t Close() override;
    int32_t Seek(int32_t offset, int32_t origin) override;
    int32_t Write(const void* data, int32_t count) override;
    int32_t Read(void* buffer, int32_t count) override;
    int32_t WriteHeader() override;
    int32_t ReadHeader(int32_t flag) override;

    // Restores the defaults, applies the settings left to right and sets up the oscillator.
    // Returns 0, or 11 for a name without the leading '~' or a setting that fails its check
    // (the settings before it stay applied).
    int32_t ParseSpec(const char* name);

    int32_t Wave = 1;
    int32_t ChannelCount = 2;
    double Frequency = 1000.0;
    double Amplitude = 0.0;  // dB relative to full scale
    char SampleType[8] = "PCM32";
    int32_t SampleRate = 48000;
    // One byte per channel, 0 = silent; empty until a parse creates it.
    std::vector<uint8_t> ChannelMask;
    TToneOscillator Oscillator;

  private:
    void RestoreDefaults();
    // Applies one setting (key upper-cased, value after it); false when its check fails.
    bool ApplySetting(char key, const char* value);
};
