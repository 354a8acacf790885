#include "platform/waveout/MpegDecoder.h"

#include <mpg123.h>

#include <mutex>

namespace platform {
namespace {

void InitLibraryOnce() {
    static std::once_flag once;
    std::call_once(once, [] { mpg123_init(); });  // a no-op for newer libraries
}

}  // namespace

MpegDecoder::MpegDecoder(int channels) : channels_(channels) {
    InitLibraryOnce();
    Open();
}

MpegDecoder::~MpegDecoder() {
    if (handle_ != nullptr) {
        mpg123_delete(handle_);
    }
}

void MpegDecoder::Open() {
    if (handle_ != nullptr) {
        mpg123_delete(handle_);
    }
    int error = MPG123_OK;
    handle_ = mpg123_new(nullptr, &error);
    if (handle_ == nullptr) {
        return;
    }
    mpg123_param(handle_, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
    // Every rate the library knows, in the device's channel count, 16-bit: no resampling
    // ever happens, and mono and stereo streams both fit the opened layout.
    mpg123_format_none(handle_);
    const long* rates = nullptr;
    size_t count = 0;
    mpg123_rates(&rates, &count);
    const int layout = channels_ == 1 ? MPG123_MONO : MPG123_STEREO;
    for (size_t i = 0; i < count; ++i) {
        mpg123_format(handle_, rates[i], layout, MPG123_ENC_SIGNED_16);
    }
    if (mpg123_open_feed(handle_) != MPG123_OK) {
        mpg123_delete(handle_);
        handle_ = nullptr;
    }
}

void MpegDecoder::Restart() {
    Open();
}

void MpegDecoder::Feed(const uint8_t* data, size_t bytes, std::vector<uint8_t>* out) {
    if (handle_ == nullptr) {
        return;
    }
    if (bytes > 0 && mpg123_feed(handle_, data, bytes) != MPG123_OK) {
        return;
    }
    int damaged = 0;
    for (;;) {
        off_t frame = 0;
        unsigned char* audio = nullptr;
        size_t decoded = 0;
        const int result = mpg123_decode_frame(handle_, &frame, &audio, &decoded);
        if (result == MPG123_NEW_FORMAT) {
            continue;
        }
        if (result == MPG123_OK) {
            out->insert(out->end(), audio, audio + decoded);
            continue;
        }
        if (result == MPG123_NEED_MORE || result == MPG123_DONE) {
            return;
        }
        // A damaged frame: the decoder skips it and resyncs; give up on hopeless input.
        if (++damaged > 64) {
            return;
        }
    }
}

}  // namespace platform
