// MPEG audio layer I/II/III decoding with libmpg123, fed the caller's bytes in chunks of any
// size. Output is interleaved 16-bit samples with the channel count the device was opened
// with, at the stream's own rate (the device plays them at the opened rate, so a scaled rate
// plays faster or slower).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct mpg123_handle_struct;

namespace platform {

class MpegDecoder {
  public:
    explicit MpegDecoder(int channels);
    ~MpegDecoder();
    MpegDecoder(const MpegDecoder&) = delete;
    MpegDecoder& operator=(const MpegDecoder&) = delete;

    bool Ready() const { return handle_ != nullptr; }
    // Decodes what the bytes complete and appends the samples to `out`.
    void Feed(const uint8_t* data, size_t bytes, std::vector<uint8_t>* out);
    // Forgets any partial frame: the next bytes start a new stream.
    void Restart();

  private:
    void Open();

    mpg123_handle_struct* handle_ = nullptr;
    int channels_;
};

}  // namespace platform
