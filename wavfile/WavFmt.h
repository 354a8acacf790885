// The format record of one audio stream: the 40-byte WaveFormat image that the wave-output
// service takes and that RIFF files store as their "fmt " chunk, a description text, and the
// number of samples one coded frame carries.
#pragma once

#include <cstdint>

// Byte offsets inside the 40-byte image. The first 18 bytes are a WAVEFORMATEX; the rest is
// the extensible extension for tag 0xFFFE or the MPEG1WAVEFORMAT fields for tag 80.
namespace WavFmtOffset {
constexpr int FormatTag = 0;
constexpr int Channels = 2;
constexpr int SamplesPerSec = 4;
constexpr int AvgBytesPerSec = 8;
constexpr int BlockAlign = 12;
constexpr int BitsPerSample = 14;
constexpr int ExtensionSize = 16;
constexpr int ValidBits = 18;     // extensible
constexpr int ChannelMask = 20;   // extensible
constexpr int SubFormat = 24;     // extensible, 16 bytes
constexpr int HeadLayer = 18;     // MPEG
constexpr int HeadBitRate = 20;   // MPEG
constexpr int HeadMode = 24;      // MPEG
constexpr int HeadModeExt = 26;   // MPEG
constexpr int HeadEmphasis = 28;  // MPEG
constexpr int HeadFlags = 30;     // MPEG
constexpr int PtsLow = 32;        // MPEG
constexpr int PtsHigh = 36;       // MPEG
}  // namespace WavFmtOffset

constexpr uint16_t WAVE_TAG_PCM = 1;
constexpr uint16_t WAVE_TAG_FLOAT = 3;
constexpr uint16_t WAVE_TAG_AC2 = 48;
constexpr uint16_t WAVE_TAG_MPEG = 80;
constexpr uint16_t WAVE_TAG_MPEGLAYER3 = 85;
constexpr uint16_t WAVE_TAG_EXTENSIBLE = 0xFFFE;
constexpr int WAVE_FORMAT_IMAGE_SIZE = 40;

struct TWavFmt {
    char FormatText[128];
    uint8_t WaveFormat[WAVE_FORMAT_IMAGE_SIZE];  // little-endian image, see WavFmtOffset
    uint32_t SamplesPerFrame;

    TWavFmt();

    int32_t SetFormat(const char* name, int32_t channels, int32_t samplesPerSec, int32_t bitRate);
    int32_t SetFormatByName(const char* name, int32_t channels, int32_t samplesPerSec);
    int32_t SetMpegFormat(const char* name, int32_t channels, int32_t samplesPerSec,
                          int32_t bitRate);
    int32_t GetFormatName(char* name, int32_t* channels, int32_t* samplesPerSec);
    int32_t GetFormatInfo(char* name, int32_t* channels, int32_t* samplesPerSec, int32_t* bitRate);
    int32_t GetFormatText(char** text);
    // Samples in a byte count, clamped to the signed 32-bit range in which it is handed out.
    int32_t SamplesFromBytes(int32_t bytes, uint32_t samplesPerFrame);
    // The same count unclamped: (2^31 - 1) bytes x (2^32 - 1) samples per frame fits 64 bits.
    int64_t SamplesFromBytesWide(int32_t bytes, uint32_t samplesPerFrame);
    int32_t GetFrameBytes();
    int32_t GetBytesPerSecond();
    int32_t GetSampleRate();
    int32_t GetChannels();
    int32_t CopyFormatTo(void* dest40);
    int32_t CopyFormatFrom(const void* source40);

    // Little-endian field access to the image.
    uint16_t Get16(int offset) const;
    uint32_t Get32(int offset) const;
    void Set16(int offset, uint32_t value);
    void Set32(int offset, uint32_t value);

    uint16_t FormatTag() const { return Get16(WavFmtOffset::FormatTag); }
    uint16_t Channels() const { return Get16(WavFmtOffset::Channels); }
    uint32_t SamplesPerSec() const { return Get32(WavFmtOffset::SamplesPerSec); }
    uint32_t AvgBytesPerSec() const { return Get32(WavFmtOffset::AvgBytesPerSec); }
    uint16_t BlockAlign() const { return Get16(WavFmtOffset::BlockAlign); }
    uint16_t BitsPerSample() const { return Get16(WavFmtOffset::BitsPerSample); }

  private:
    void DeriveAverage();
};
