// One open wave-output handle: the queue of written headers and the device thread that feeds
// them through the conversion chain to the backend's sink and retires them by the sink's
// clock, mapping sink frames back to the headers by where the chain says their input ends.
//
// Threads and locks. The application's threads only change the queue and post requests
// under `mutex_`; pause, restart and reset are carried out by the device thread and the
// caller waits for that, so the sink is only ever fed from one thread. The device thread
// never calls the sink while holding `mutex_`, and sinks call back only through Wake(),
// which takes nothing but its own small lock. Notifications are posted after every lock is
// released, so their receiver may call back into the service at once.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <thread>
#include <vector>

#include <platform/waveout.h>
#include "platform/waveout/AudioSink.h"
#include "platform/waveout/ConversionChain.h"
#include "platform/waveout/DeviceList.h"
#include "platform/waveout/StreamFormat.h"

namespace platform {

class WaveOutStream {
  public:
    WaveOutStream(HWAVEOUT handle, const StreamFormat& format, HWND notifyWindow);
    ~WaveOutStream();
    WaveOutStream(const WaveOutStream&) = delete;
    WaveOutStream& operator=(const WaveOutStream&) = delete;

    MMRESULT Open(const DeviceEntry& device);  // then MM_WOM_OPEN
    MMRESULT Close();                          // refused while headers are queued

    // These report MMSYSERR_NODRIVER once the device has failed; Pause, Restart and Reset are
    // carried out all the same.
    MMRESULT Write(WAVEHDR* header);
    MMRESULT Pause();
    MMRESULT Restart();
    MMRESULT Reset();  // every queued header comes back; the position is 0 again
    MMRESULT GetPosition(MMTIME* time);
    void SetVolume(DWORD volume);
    DWORD Volume();
    MMRESULT SetStretch(DWORD lengthTimes10000);

  private:
    struct Entry {
        WAVEHDR* header;
        size_t consumed = 0;    // bytes of the header taken by the device thread
        bool reached = false;   // the device thread has started on it
        uint64_t outStart = 0;  // frames the sink had been given before this header...
        uint64_t outEnd = 0;    // ...and after what this header produced so far
    };
    struct Requests {
        uint64_t serial;
        bool paused;
        bool reset;
        bool closing;
    };
    using Clock = std::chrono::steady_clock;

    void Run();
    MMRESULT Request(bool paused, bool reset);
    void Wake();
    void WaitForWork(Clock::time_point deadline);
    void ApplySettings(const Requests& requests);
    void SettleChain();
    void DoReset(std::vector<WAVEHDR*>* done);
    void Feed();
    bool ConvertNext();
    void Account(Entry* entry, bool flushed);
    uint64_t FlushFrame() const;
    void Retire(std::vector<WAVEHDR*>* done);
    void ReturnAll(std::vector<WAVEHDR*>* done);
    Clock::time_point NextDeadline();
    void Notify(UINT message, LPARAM lParam);
    uint64_t PlayedBytes(uint64_t playedFrames);

    const HWAVEOUT handle_;
    const StreamFormat format_;
    const HWND notifyWindow_;
    std::unique_ptr<AudioSink> sink_;
    std::shared_mutex sinkGuard_;  // the application's threads use sink_ only under it
    std::thread thread_;

    // Shared state, under mutex_.
    std::mutex mutex_;
    std::condition_variable applied_;
    std::deque<Entry> queue_;
    uint64_t retiredBytes_ = 0;  // source bytes of the retired headers
    uint64_t lastPosition_ = 0;  // never reported backwards
    uint64_t requestSerial_ = 0;
    uint64_t appliedSerial_ = 0;
    bool paused_ = false;
    bool resetWanted_ = false;
    bool closing_ = false;
    bool threadEnded_ = false;
    bool failed_ = false;
    bool chainFlushed_ = true;  // nothing of the last header is held inside the chain
    DWORD volume_ = 0xFFFFFFFF;
    DWORD stretch_ = 10000;

    // Wake-ups of the device thread.
    std::mutex wakeMutex_;
    std::condition_variable wakeSignal_;
    bool wakePending_ = false;

    // Device thread only.
    bool sinkPaused_ = false;
    ConversionChain chain_;
    std::vector<uint8_t> pending_;  // output not yet taken by the sink
    size_t pendingOffset_ = 0;
    bool drained_ = false;    // the chain was flushed since the last new bytes
    bool drainSink_ = false;  // new bytes: once all is taken, the sink starts a short remainder
};

}  // namespace platform
