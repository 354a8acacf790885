#include "platform/waveout/ConversionChain.h"

#include <algorithm>
#include <cmath>

#include "platform/waveout/SampleCodec.h"

namespace platform {

ConversionChain::ConversionChain(const StreamFormat& format)
    : sink_(format.ForSink()),
      frameBytes_(sink_.FrameBytes()),
      gains_(ChannelGains(sink_, volume_)) {
    if (format.coding == StreamFormat::Coding::Mpeg) {
        decoder_ = std::make_unique<MpegDecoder>(format.channels);
    }
}

ConversionChain::~ConversionChain() = default;

void ConversionChain::SetVolume(DWORD volume) {
    if (volume != volume_) {
        volume_ = volume;
        gains_ = ChannelGains(sink_, volume_);
    }
}

bool ConversionChain::SetStretch(DWORD lengthTimes10000, std::vector<uint8_t>* out) {
    if (lengthTimes10000 == stretch_) {
        return false;
    }
    stretch_ = lengthTimes10000;
    if (stretch_ == 10000) {
        const bool held = stretcher_ != nullptr;
        if (held) {
            Flush(out);  // what the stretcher holds still belongs to the input so far
        }
        stretcher_.reset();
        return held;
    }
    if (stretcher_ == nullptr) {
        stretcher_ = std::make_unique<TimeStretcher>(sink_.type, sink_.channels, sink_.rate);
        EndSegment();
    } else {
        // The input so far keeps the old factor; the new one counts from here.
        segmentBase_ += static_cast<uint64_t>(std::llround(segmentInput_ * factor_));
        segmentInput_ = 0;
    }
    factor_ = stretch_ / 10000.0;
    if (!stretcher_->SetLengthFactor(factor_)) {
        stretcher_.reset();  // a layout the stretcher cannot take plays unstretched
    }
    return false;
}

uint64_t ConversionChain::Write(const uint8_t* data, size_t bytes, std::vector<uint8_t>* out) {
    const uint8_t* samples = data;
    size_t count = bytes;
    if (decoder_ != nullptr) {
        decoded_.clear();
        decoder_->Feed(data, bytes, &decoded_);
        samples = decoded_.data();
        count = decoded_.size() / frameBytes_ * frameBytes_;
    } else if (!carry_.empty() || bytes % frameBytes_ != 0) {
        // Pieces need not hold whole sample frames: keep the part frame for the next bytes.
        carry_.insert(carry_.end(), data, data + bytes);
        count = carry_.size() / frameBytes_ * frameBytes_;
        decoded_.assign(carry_.begin(), carry_.begin() + static_cast<ptrdiff_t>(count));
        carry_.erase(carry_.begin(), carry_.begin() + static_cast<ptrdiff_t>(count));
        samples = decoded_.data();
    }
    const size_t from = out->size();
    if (stretcher_ != nullptr) {
        stretcher_->Process(samples, count, out);
        segmentInput_ += count / frameBytes_;
    } else {
        out->insert(out->end(), samples, samples + count);
    }
    Emit(out, from);
    return InputEnd();
}

uint64_t ConversionChain::Flush(std::vector<uint8_t>* out) {
    const size_t from = out->size();
    if (stretcher_ != nullptr) {
        stretcher_->Flush(out);
    }
    Emit(out, from);
    EndSegment();
    return InputEnd();
}

void ConversionChain::Reset() {
    if (decoder_ != nullptr) {
        decoder_->Restart();
    }
    if (stretcher_ != nullptr) {
        stretcher_->Clear();
    }
    carry_.clear();
    produced_ = 0;
    EndSegment();
}

uint64_t ConversionChain::InputEnd() const {
    if (stretcher_ == nullptr) {
        return produced_;
    }
    return std::max<uint64_t>(
        produced_, segmentBase_ + static_cast<uint64_t>(std::llround(segmentInput_ * factor_)));
}

// Applies the gain to what was appended from `from` on and counts it.
void ConversionChain::Emit(std::vector<uint8_t>* out, size_t from) {
    const size_t bytes = out->size() - from;
    ApplyGain(sink_.type, gains_, out->data() + from, bytes);
    produced_ += bytes / frameBytes_;
}

// The stretcher has given out everything it was given (or starts afresh): the factor's count
// starts again here.
void ConversionChain::EndSegment() {
    segmentBase_ = produced_;
    segmentInput_ = 0;
}

}  // namespace platform
