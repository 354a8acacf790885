// RIFF WAVE files through the multimedia-I/O service: read for playback, written new, or
// appended to. The "fmt " chunk holds the 40-byte WaveFormat image, the "data" chunk the
// audio, and every format tag but PCM and IEEE float gets a "fact" chunk with a sample count.
#pragma once

#include <platform/mmio.h>
#include "wavfile/WavFileBase.h"

class TWavFileTypeWav : public TWavFileBase {
  public:
    TWavFileTypeWav(const char* name, const char* mode, int32_t* error);
    ~TWavFileTypeWav() override;

    int32_t Open(const char* name, uint32_t flags) override;
    // Finalises the header (sizes, pad byte, fact count) and closes the file. Reports the
    // first failure in writing or finishing the file since Open (WAVFILE_WRITE_FAILED when a
    // write or the header update failed, WAVFILE_CLOSE_FAILED when only the close did),
    // again on every later call.
    int32_t Close() override;
    int32_t Seek(int32_t offset, int32_t origin) override;
    int32_t Write(const void* data, int32_t count) override { return WriteWavData(data, count); }
    int32_t Read(void* buffer, int32_t count) override { return ReadWavData(buffer, count); }
    int32_t WriteHeader() override;
    // Flag 0: position at the first audio byte for reading. Non-zero: position just after
    // the audio for appending; refused with WAVFILE_APPEND_REFUSED, the file untouched, when
    // other chunks follow the "data" chunk.
    int32_t ReadHeader(int32_t flag) override;

    // The bytes written, or 0 when the write, or the header update after the first one,
    // failed. After a failure nothing more is written (the audio would have a hole), and a
    // failed write adds nothing to DataLength, which the fact count is made from.
    int32_t WriteWavData(const void* data, int32_t count);
    int32_t ReadWavData(void* buffer, int32_t count);

    HMMIO Mmio = nullptr;
    MMCKINFO RiffChunk{};
    MMCKINFO SubChunk{};
    MMCKINFO FactChunk{};
    int32_t FirstWriteDone = 0;

  private:
    // FileErrorCode of the finalisation: 0, or WAVFILE_WRITE_FAILED when a size, the pad
    // byte or the fact count could not be written (a size that cannot be written leaves the
    // sizes after it unwritten too), WAVFILE_NOT_WAVE when the header cannot be read back.
    int32_t UpdateHeader();
    bool Ascended(MMCKINFO& chunk);
    void CloseMmio();
    int32_t CloseMmioWith(int32_t error);

    int32_t Failure = WAVFILE_OK;  // first failure in writing or finishing since Open
};
