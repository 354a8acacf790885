// Collects what the Null Output device was given while it lives (from the device thread).
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/waveout/null/NullOutput.h"

namespace testsupport {

class NullOutputTap {
  public:
    NullOutputTap() {
        platform::SetNullOutputTap([this](const uint8_t* data, size_t bytes) {
            std::lock_guard<std::mutex> lock(mutex_);
            bytes_.insert(bytes_.end(), data, data + bytes);
        });
    }
    ~NullOutputTap() { platform::SetNullOutputTap({}); }
    NullOutputTap(const NullOutputTap&) = delete;
    NullOutputTap& operator=(const NullOutputTap&) = delete;

    std::vector<uint8_t> Bytes() {
        std::lock_guard<std::mutex> lock(mutex_);
        return bytes_;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        bytes_.clear();
    }

  private:
    std::mutex mutex_;
    std::vector<uint8_t> bytes_;
};

}  // namespace testsupport
