// The one narrow interface behind which every output backend sits (sound server, ALSA, Null
// Output, and a test's own): a backend lists its devices, says whether a device takes a
// format and opens sinks; a sink writes, pauses, resumes, drains, resets, reports its position
// and its failure, and closes (the destructor). The wave-output service's device thread is the
// only caller of a sink's feeding calls; Position() may also be called from the
// application's threads, so sinks make it thread-safe.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <platform/waveout.h>

namespace platform {

enum class SampleType { U8, S16, S24, S32, F32 };

size_t BytesPerSample(SampleType type);

// What a sink is opened for: interleaved little-endian samples.
struct SinkFormat {
    SampleType type = SampleType::S16;
    uint32_t rate = 0;
    uint16_t channels = 0;
    // Per channel, the speaker bit of the extensible channel mask (0x1 front left, 0x2 front
    // right, ...), or 0 when the channel has no position.
    std::vector<uint32_t> speakers;

    size_t FrameBytes() const { return BytesPerSample(type) * channels; }
};

class AudioSink {
  public:
    virtual ~AudioSink() = default;  // close: stops at once, whatever is buffered

    // Bytes (whole frames) that Write takes now without waiting.
    virtual size_t Writable() = 0;
    // Appends whole frames; false when the device has gone away.
    virtual bool Write(const uint8_t* data, size_t bytes) = 0;
    virtual void Pause() = 0;
    virtual void Resume() = 0;
    // Plays what is buffered even if it is less than the device waits for before starting;
    // more data may still follow.
    virtual void Drain() = 0;
    // Drops everything not yet played; the position starts again from 0.
    virtual void Reset() = 0;
    // Frames that have been played (heard) since open or the last reset.
    virtual uint64_t Position() = 0;
    // For showing: Position, or a sink's estimate between its device's answers that may run
    // a little ahead of it (never past what was written).
    virtual uint64_t ShownPosition() { return Position(); }
    // A sink whose position moves only with answers it asks for: calls its wake function once
    // it knows that `frames` have been played, and returns true; false when the caller is to
    // poll Position() by time. `then` is the position the caller will want next (0: none
    // known): the sink watches for it by itself from there, without being told again.
    virtual bool WakeWhenPlayed(uint64_t /*frames*/, uint64_t /*then*/) { return false; }
    // True once the device has gone away; every call then returns at once.
    virtual bool Failed() = 0;
    // After Writable() gave nothing: how long the device thread may sleep before it asks
    // again. A sink that calls its wake function as soon as there is room gives a long
    // safety interval; one that cannot, the time until it expects room.
    virtual std::chrono::milliseconds RoomExpectedIn() = 0;
};

// A device as its backend lists it.
struct BackendDevice {
    std::string name;    // as the desktop's sound settings show it; cut for szPname
    std::string target;  // the backend's own name of the device, for Accepts and Open
    uint16_t maxChannels;
};

// A backend's devices in its own order, and the one it plays on by default, if any.
struct BackendDevices {
    std::vector<BackendDevice> devices;
    std::optional<BackendDevice> preferred;
};

// A kind of device: lists its devices, decides which formats a device takes, opens sinks.
class AudioBackend {
  public:
    virtual ~AudioBackend() = default;
    // False when the backend has nothing to offer now (no server answers, say), so that the
    // device list asks the next sound system.
    virtual bool ListDevices(BackendDevices* found) = 0;
    virtual bool Accepts(const std::string& target, const SinkFormat& format) const = 0;
    // `wake` may be called from any thread when the sink has room or has failed.
    virtual std::unique_ptr<AudioSink> Open(const std::string& target, const SinkFormat& format,
                                            std::function<void()> wake, MMRESULT* error) = 0;
};

}  // namespace platform
