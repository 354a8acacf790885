// Helpers for the wave-output tests: a notification thread, format images, test signals.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <platform/kernel.h>
#include <platform/waveout.h>
#include <platform/window.h>
#include "support/Noise.h"

namespace waveouttest {

using Clock = std::chrono::steady_clock;

struct Notification {
    UINT message;
    WAVEHDR* header;
    Clock::time_point when;
};

// Records every MM_WOM_* posted to its hidden window; `onDone` runs on that thread.
class CallbackThread {
  public:
    explicit CallbackThread(std::function<void(WAVEHDR*)> onDone = {})
        : onDone_(std::move(onDone)) {
        thread_ = CreateThread(nullptr, 0, &CallbackThread::Main, this, 0, nullptr);
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return window_ != nullptr; });
    }
    ~CallbackThread() {
        PostMessageA(window_, WM_CLOSE, 0, 0);
        EXPECT_EQ(WaitForSingleObject(thread_, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
        CloseHandle(thread_);
    }
    HWND Window() const { return window_; }

    bool WaitFor(UINT message, size_t count, std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return CountLocked(message) >= count; });
    }
    size_t Count(UINT message) {
        std::lock_guard<std::mutex> lock(mutex_);
        return CountLocked(message);
    }
    std::vector<Notification> Events() {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }

  private:
    size_t CountLocked(UINT message) const {
        size_t n = 0;
        for (const Notification& e : events_) {
            n += e.message == message ? 1 : 0;
        }
        return n;
    }

    static LRESULT Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<CallbackThread*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (self != nullptr && message >= MM_WOM_OPEN && message <= MM_WOM_DONE) {
            auto* header = reinterpret_cast<WAVEHDR*>(lParam);
            if (message == MM_WOM_DONE && self->onDone_) {
                self->onDone_(header);
            }
            {
                std::lock_guard<std::mutex> lock(self->mutex_);
                self->events_.push_back({message, header, Clock::now()});
            }
            self->changed_.notify_all();
            return 0;
        }
        if (message == WM_DESTROY) {
            PostQuitMessage(0);
            return 0;
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }

    static DWORD Main(LPVOID parameter) {
        auto* self = static_cast<CallbackThread*>(parameter);
        HWND window = CreateWindowExA(0, "BUTTON", "callback", WS_POPUP, 0, 0, 10, 10, nullptr,
                                      nullptr, nullptr, nullptr);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Procedure));
        {
            std::lock_guard<std::mutex> lock(self->mutex_);
            self->window_ = window;
        }
        self->changed_.notify_all();
        MSG message;
        while (GetMessageA(&message, window, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        return 1;
    }

    std::function<void(WAVEHDR*)> onDone_;
    HANDLE thread_ = nullptr;
    HWND window_ = nullptr;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Notification> events_;
};

// A format image stored one byte off alignment: the service must copy it.
class FormatImage {
  public:
    FormatImage(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits,
                uint16_t blockAlign = 0, uint16_t extension = 0) {
        if (blockAlign == 0) {
            blockAlign = static_cast<uint16_t>(channels * bits / 8);
        }
        Put16(0, tag);
        Put16(2, channels);
        Put32(4, rate);
        Put32(8, rate * blockAlign);
        Put16(12, blockAlign);
        Put16(14, bits);
        Put16(16, extension);
    }
    void Put16(int at, uint16_t v) { Put32(at, v, 2); }
    void Put32(int at, uint32_t v, int size = 4) {
        for (int i = 0; i < size; ++i) {
            bytes_[1 + at + i] = static_cast<uint8_t>(v >> (8 * i));
        }
    }
    LPCWAVEFORMATEX Get() const { return reinterpret_cast<LPCWAVEFORMATEX>(bytes_ + 1); }

    static FormatImage Pcm(uint16_t channels, uint32_t rate, uint16_t bits) {
        return FormatImage(WAVE_FORMAT_PCM, channels, rate, bits);
    }
    static FormatImage Extensible(uint16_t channels, uint32_t rate, uint16_t bits,
                                  uint16_t validBits, uint32_t mask, uint16_t subTag) {
        FormatImage image(WAVE_FORMAT_EXTENSIBLE, channels, rate, bits,
                          static_cast<uint16_t>(channels * bits / 8), 22);
        image.Put16(18, validBits);
        image.Put32(20, mask);
        static const uint8_t guidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                             0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
        image.Put16(24, subTag);
        std::memcpy(image.bytes_ + 1 + 26, guidTail, sizeof guidTail);
        return image;
    }
    static FormatImage Mpeg(uint16_t channels, uint32_t rate, uint16_t layerField) {
        FormatImage image(WAVE_FORMAT_MPEG, channels, rate, 16, 1, 22);
        image.Put16(18, layerField);
        image.Put32(20, 128000);
        image.Put16(24, channels == 1 ? 8 : 2);
        return image;
    }

  private:
    alignas(8) uint8_t bytes_[48] = {};
};

inline UINT FindDevice(const char* name) {
    const UINT count = waveOutGetNumDevs();
    for (UINT id = 0; id < count; ++id) {
        WAVEOUTCAPSA caps{};
        if (waveOutGetDevCapsA(id, &caps, sizeof caps) == MMSYSERR_NOERROR &&
            std::strcmp(caps.szPname, name) == 0) {
            return id;
        }
    }
    return WAVE_MAPPER - 1;  // no such device
}

inline HWAVEOUT OpenDevice(UINT id, const FormatImage& format, HWND window) {
    HWAVEOUT device = nullptr;
    EXPECT_EQ(waveOutOpen(&device, id, format.Get(), reinterpret_cast<DWORD_PTR>(window), 0,
                          window != nullptr ? CALLBACK_WINDOW : CALLBACK_NULL),
              MMSYSERR_NOERROR);
    return device;
}

inline DWORD PositionBytes(HWAVEOUT device) {
    MMTIME time{};
    time.wType = TIME_BYTES;
    EXPECT_EQ(waveOutGetPosition(device, &time, sizeof time), MMSYSERR_NOERROR);
    EXPECT_EQ(time.wType, static_cast<UINT>(TIME_BYTES));
    return time.u.cb;
}

inline UINT NullOutput() {
    return FindDevice("Null Output");
}

// Interleaved 16-bit stereo: a sine on the left, another on the right.
inline std::vector<uint8_t> StereoTone(double leftHz, double rightHz, uint32_t rate, size_t frames,
                                       double amplitude = 0.5) {
    std::vector<uint8_t> out(frames * 4);
    for (size_t i = 0; i < frames * 2; ++i) {
        const double hz = i % 2 == 0 ? leftHz : rightHz;
        const auto v = static_cast<int16_t>(
            std::lround(amplitude * 32767 * std::sin(2 * M_PI * hz * double(i / 2) / rate)));
        std::memcpy(&out[i * 2], &v, 2);
    }
    return out;
}

using testsupport::NoiseBytes;

// Frequency of one channel of 16-bit audio from its rising zero crossings.
inline double MeasureFrequency(const std::vector<uint8_t>& pcm, int channels, int channel,
                               uint32_t rate) {
    const size_t frames = pcm.size() / (2 * channels);
    int crossings = 0;
    size_t first = 0, last = 0;
    int16_t previous = 0;
    for (size_t i = 0; i < frames; ++i) {
        int16_t v;
        std::memcpy(&v, &pcm[(i * channels + channel) * 2], 2);
        if (i > 0 && previous < 0 && v >= 0) {
            if (crossings == 0) {
                first = i;
            }
            last = i;
            ++crossings;
        }
        previous = v;
    }
    if (crossings < 2) {
        return 0;
    }
    return (crossings - 1) * static_cast<double>(rate) / static_cast<double>(last - first);
}

inline bool HaveTool(const char* tool) {
    return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

inline int Shell(const std::string& command) {
    return std::system(command.c_str());
}

// A set of prepared headers over one block of audio, cut in pieces of the given sizes.
class HeaderSet {
  public:
    HeaderSet(const std::vector<uint8_t>& audio, const std::vector<size_t>& sizes) : audio_(audio) {
        size_t at = 0;
        for (size_t size : sizes) {
            if (at >= audio_.size()) {
                break;
            }
            size = std::min(size, audio_.size() - at);
            WAVEHDR header{};
            header.lpData = reinterpret_cast<LPSTR>(audio_.data() + at);
            header.dwBufferLength = static_cast<DWORD>(size);
            headers_.push_back(header);
            at += size;
        }
    }
    static std::vector<size_t> Even(size_t total, size_t piece) {
        return std::vector<size_t>((total + piece - 1) / piece, piece);
    }
    size_t Size() const { return headers_.size(); }
    WAVEHDR* operator[](size_t i) { return &headers_[i]; }
    MMRESULT WriteAll(HWAVEOUT device) {
        for (WAVEHDR& header : headers_) {
            MMRESULT r = waveOutPrepareHeader(device, &header, sizeof header);
            if (r == MMSYSERR_NOERROR) {
                r = waveOutWrite(device, &header, sizeof header);
            }
            if (r != MMSYSERR_NOERROR) {
                return r;
            }
        }
        return MMSYSERR_NOERROR;
    }

  private:
    std::vector<uint8_t> audio_;
    std::vector<WAVEHDR> headers_;
};

}  // namespace waveouttest
