#include "platform/waveout/WaveOutStream.h"

#include <algorithm>
#include <iterator>
#include <system_error>

#include <platform/window.h>

namespace platform {
namespace {

constexpr size_t kChunkBytes = 16384;  // source bytes converted per step
constexpr auto kSafetyPoll = std::chrono::milliseconds(500);
// The stretcher's held-back audio is pushed out only when this little is left to play: a
// flush pads the stretch with silence, so it belongs to the end of the data, and the end is
// when no more comes before the sink runs dry (the player re-queues a buffer at once).
constexpr uint64_t kFlushLeadMs = 150;

}  // namespace

WaveOutStream::WaveOutStream(HWAVEOUT handle, const StreamFormat& format, HWND notifyWindow)
    : handle_(handle), format_(format), notifyWindow_(notifyWindow), chain_(format) {}

WaveOutStream::~WaveOutStream() {
    if (thread_.joinable()) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            closing_ = true;
        }
        Wake();
        thread_.join();
    }
}

MMRESULT WaveOutStream::Open(const DeviceEntry& device) {
    MMRESULT error = MMSYSERR_NOERROR;
    sink_ = device.backend->Open(
        device.target, chain_.Sink(), [this] { Wake(); }, &error);
    if (sink_ == nullptr) {
        return error != MMSYSERR_NOERROR ? error : MMSYSERR_NODRIVER;
    }
    if (!chain_.Ready()) {
        sink_.reset();
        return MMSYSERR_NOMEM;  // no MPEG decoder to be had
    }
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        sink_.reset();
        return MMSYSERR_NOMEM;  // no thread to be had
    }
    Notify(MM_WOM_OPEN, 0);
    return MMSYSERR_NOERROR;
}

MMRESULT WaveOutStream::Close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closing_) {
            return MMSYSERR_INVALHANDLE;
        }
        if (!queue_.empty()) {
            return WAVERR_STILLPLAYING;
        }
        closing_ = true;
    }
    Wake();
    thread_.join();
    {
        std::unique_lock<std::shared_mutex> guard(sinkGuard_);
        sink_.reset();
    }
    Notify(MM_WOM_CLOSE, 0);
    return MMSYSERR_NOERROR;
}

MMRESULT WaveOutStream::Write(WAVEHDR* header) {
    bool busy = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closing_) {
            return MMSYSERR_INVALHANDLE;
        }
        if (failed_) {
            return MMSYSERR_NODRIVER;  // it would only come back at once
        }
        // While an earlier header is not yet taken completely, the device thread comes back
        // to the queue by itself (it waits for the sink's room or is still at work), so it
        // need not be woken for this one.
        busy = std::any_of(queue_.begin(), queue_.end(), [](const Entry& entry) {
            return entry.consumed < entry.header->dwBufferLength;
        });
        header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
        header->lpNext = nullptr;
        queue_.push_back(Entry{header});
    }
    if (!busy) {
        Wake();
    }
    return MMSYSERR_NOERROR;
}

MMRESULT WaveOutStream::Request(bool paused, bool reset) {
    uint64_t serial = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closing_) {
            return MMSYSERR_INVALHANDLE;
        }
        paused_ = paused;
        resetWanted_ = resetWanted_ || reset;
        serial = ++requestSerial_;
    }
    Wake();
    std::unique_lock<std::mutex> lock(mutex_);
    applied_.wait(lock, [&] { return appliedSerial_ >= serial || threadEnded_; });
    // Carried out all the same (a reset still returns every header), but a device that has
    // failed is reported.
    return failed_ ? MMSYSERR_NODRIVER : MMSYSERR_NOERROR;
}

MMRESULT WaveOutStream::Pause() {
    return Request(true, false);
}
MMRESULT WaveOutStream::Restart() {
    return Request(false, false);
}
// A reset also ends a pause: headers written afterwards play at once.
MMRESULT WaveOutStream::Reset() {
    return Request(false, true);
}

void WaveOutStream::SetVolume(DWORD volume) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        volume_ = volume;
    }
    Wake();
}

DWORD WaveOutStream::Volume() {
    std::lock_guard<std::mutex> lock(mutex_);
    return volume_;
}

MMRESULT WaveOutStream::SetStretch(DWORD lengthTimes10000) {
    if (lengthTimes10000 < 1000 || lengthTimes10000 > 15000) {
        return MMSYSERR_INVALPARAM;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stretch_ = lengthTimes10000;
    }
    Wake();
    return MMSYSERR_NOERROR;
}

uint64_t WaveOutStream::PlayedBytes(uint64_t played) {
    uint64_t bytes = retiredBytes_;
    for (const Entry& entry : queue_) {
        if (!entry.reached || played <= entry.outStart) {
            break;
        }
        if (played >= entry.outEnd) {
            bytes += entry.consumed;
            continue;
        }
        const uint64_t span = entry.outEnd - entry.outStart;
        bytes += static_cast<uint64_t>(static_cast<unsigned __int128>(entry.consumed) *
                                       (played - entry.outStart) / span);
        break;
    }
    return bytes;
}

MMRESULT WaveOutStream::GetPosition(MMTIME* time) {
    uint64_t played = 0;
    {
        // Close may be destroying the sink on another thread.
        std::shared_lock<std::shared_mutex> guard(sinkGuard_);
        if (sink_ == nullptr) {
            return MMSYSERR_INVALHANDLE;
        }
        played = sink_->ShownPosition();
    }
    uint64_t bytes = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closing_) {
            return MMSYSERR_INVALHANDLE;
        }
        bytes = std::max(PlayedBytes(played), lastPosition_);
        lastPosition_ = bytes;
    }
    const bool pcm = format_.coding != StreamFormat::Coding::Mpeg;
    const uint64_t samples = pcm ? bytes / format_.blockAlign : 0;
    switch (time->wType) {
        case TIME_SAMPLES:
            if (pcm) {
                time->u.sample = static_cast<DWORD>(samples);
                return MMSYSERR_NOERROR;
            }
            break;
        case TIME_MS:
            if (pcm) {
                time->u.ms = static_cast<DWORD>(samples * 1000 / format_.rate);
                return MMSYSERR_NOERROR;
            }
            break;
        default:
            break;
    }
    // Bytes for TIME_BYTES and for every type this stream cannot answer; the answer says so.
    time->wType = TIME_BYTES;
    time->u.cb = static_cast<DWORD>(bytes);
    return MMSYSERR_NOERROR;
}

void WaveOutStream::Notify(UINT message, LPARAM lParam) {
    if (notifyWindow_ != nullptr) {
        PostMessageA(notifyWindow_, message, reinterpret_cast<WPARAM>(handle_), lParam);
    }
}

void WaveOutStream::Wake() {
    {
        std::lock_guard<std::mutex> lock(wakeMutex_);
        wakePending_ = true;
    }
    wakeSignal_.notify_one();
}

void WaveOutStream::WaitForWork(Clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(wakeMutex_);
    if (deadline == Clock::time_point::max()) {
        wakeSignal_.wait(lock, [&] { return wakePending_; });
    } else {
        wakeSignal_.wait_until(lock, deadline, [&] { return wakePending_; });
    }
    wakePending_ = false;
}

void WaveOutStream::ReturnAll(std::vector<WAVEHDR*>* done) {
    for (Entry& entry : queue_) {
        entry.header->dwFlags = (entry.header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
        done->push_back(entry.header);
    }
    queue_.clear();
}

void WaveOutStream::DoReset(std::vector<WAVEHDR*>* done) {
    sink_->Reset();
    chain_.Reset();
    pending_.clear();
    pendingOffset_ = 0;
    drained_ = false;
    drainSink_ = false;
    std::lock_guard<std::mutex> lock(mutex_);
    ReturnAll(done);
    retiredBytes_ = 0;
    lastPosition_ = 0;
    chainFlushed_ = true;
}

void WaveOutStream::ApplySettings(const Requests& requests) {
    if (requests.paused != sinkPaused_) {
        if (requests.paused) {
            sink_->Pause();
        } else {
            sink_->Resume();
        }
        sinkPaused_ = requests.paused;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    SettleChain();
}

// With the lock held. The volume and the stretch reach the chain before the next bytes do:
// one given before a header was written holds for all of that header, even when it came
// while this thread was busy with the header before.
void WaveOutStream::SettleChain() {
    chain_.SetVolume(volume_);
    if (chain_.SetStretch(stretch_, &pending_)) {
        Account(queue_.empty() ? nullptr : &queue_.back(), true);
    }
}

// Records where the audio of `entry`, whose bytes the chain took last, now ends in sink
// frames. With the lock held. After a flush the chain holds nothing back: no entry ends
// beyond what came out.
void WaveOutStream::Account(Entry* entry, bool flushed) {
    if (entry != nullptr) {
        entry->outEnd = chain_.InputEnd();
    }
    if (flushed) {
        for (Entry& each : queue_) {
            each.outEnd = std::min(each.outEnd, std::max(each.outStart, chain_.Produced()));
        }
    }
}

// Converts the next piece of the first header not yet taken completely, appending to
// pending_; false when every written byte has been taken.
bool WaveOutStream::ConvertNext() {
    const uint8_t* data = nullptr;
    size_t bytes = 0;
    size_t index = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        SettleChain();
        for (; index < queue_.size(); ++index) {
            Entry& entry = queue_[index];
            if (!entry.reached) {
                entry.reached = true;
                entry.outStart = entry.outEnd = chain_.Produced();
            }
            if (entry.consumed < entry.header->dwBufferLength) {
                data = reinterpret_cast<const uint8_t*>(entry.header->lpData) + entry.consumed;
                bytes =
                    std::min<size_t>(kChunkBytes, entry.header->dwBufferLength - entry.consumed);
                break;
            }
        }
    }
    if (data == nullptr) {
        return false;
    }
    if (pendingOffset_ > 0) {
        // What the sink took is dropped before more is appended.
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<ptrdiff_t>(pendingOffset_));
        pendingOffset_ = 0;
    }
    // The header's memory stays valid while it is queued, and only this thread removes
    // queued headers, so it is read without the lock.
    chain_.Write(data, bytes, &pending_);
    drained_ = false;
    drainSink_ = true;
    std::lock_guard<std::mutex> lock(mutex_);
    Entry& entry = queue_[index];
    entry.consumed += bytes;
    Account(&entry, false);
    chainFlushed_ = false;
    return true;
}

void WaveOutStream::Feed() {
    for (;;) {
        if (pendingOffset_ < pending_.size()) {
            const size_t room = sink_->Writable();
            // While the sink has room for more than is waiting, convert on first: one write
            // per pass rather than one per converted piece.
            if (room > pending_.size() - pendingOffset_ && ConvertNext()) {
                continue;
            }
            const size_t bytes = std::min(room, pending_.size() - pendingOffset_);
            if (bytes == 0) {
                return;  // the sink is full
            }
            if (!sink_->Write(pending_.data() + pendingOffset_, bytes)) {
                return;  // the device is gone: Run() sees Failed()
            }
            pendingOffset_ += bytes;
            continue;
        }
        pending_.clear();
        pendingOffset_ = 0;
        if (ConvertNext()) {
            continue;
        }
        if (!drained_ && FlushFrame() <= sink_->Position()) {
            // Everything written has been taken and nothing more came in time: push out
            // what the chain holds, then let the sink play a remainder shorter than its
            // start threshold.
            chain_.Flush(&pending_);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                Account(queue_.empty() ? nullptr : &queue_.back(), true);
                chainFlushed_ = true;
            }
            drained_ = true;
            drainSink_ = true;
            if (pendingOffset_ < pending_.size()) {
                continue;
            }
        }
        if (drainSink_) {
            sink_->Drain();
            drainSink_ = false;
        }
        return;
    }
}

// The sink position at which a chain that holds audio back is flushed: kFlushLeadMs before
// the sink runs out of what came out so far; 0 (at once) when it holds nothing back.
uint64_t WaveOutStream::FlushFrame() const {
    if (!chain_.Holding()) {
        return 0;
    }
    const uint64_t lead = chain_.Sink().rate * kFlushLeadMs / 1000;
    return chain_.Produced() > lead ? chain_.Produced() - lead : 0;
}

void WaveOutStream::Retire(std::vector<WAVEHDR*>* done) {
    const uint64_t played = sink_->Position();
    std::lock_guard<std::mutex> lock(mutex_);
    while (!queue_.empty()) {
        Entry& entry = queue_.front();
        if (!entry.reached || entry.consumed < entry.header->dwBufferLength ||
            entry.outEnd > played) {
            return;
        }
        if (queue_.size() == 1 && !chainFlushed_) {
            return;  // the chain may still hold the end of the last header
        }
        retiredBytes_ += entry.consumed;
        entry.header->dwFlags = (entry.header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
        done->push_back(entry.header);
        queue_.pop_front();
    }
}

WaveOutStream::Clock::time_point WaveOutStream::NextDeadline() {
    const Clock::time_point now = Clock::now();
    Clock::time_point deadline = Clock::time_point::max();
    if (pendingOffset_ < pending_.size()) {
        deadline = now + sink_->RoomExpectedIn();
    }
    uint64_t waitFor = 0;
    {
        // Woken when the oldest header has been played, or when the held-back stretch is due;
        // the sink is told the position after that too (the next header's end, once the
        // chain has taken all of it).
        std::lock_guard<std::mutex> lock(mutex_);
        const bool flushDue = !drained_ && chain_.Holding();
        const bool headerDue = !queue_.empty() && queue_.front().reached;
        if (!flushDue && !headerDue) {
            return deadline;
        }
        const bool secondDue = queue_.size() > 1 && queue_[1].reached &&
                               queue_[1].consumed == queue_[1].header->dwBufferLength;
        uint64_t due[] = {headerDue ? queue_.front().outEnd : UINT64_MAX,
                          flushDue ? FlushFrame() : UINT64_MAX,
                          secondDue ? queue_[1].outEnd : UINT64_MAX};
        std::sort(std::begin(due), std::end(due));
        const uint64_t end = due[0];
        const uint64_t played = sink_->Position();
        if (end > played && sink_->WakeWhenPlayed(end, due[1] == UINT64_MAX ? 0 : due[1])) {
            return std::min(deadline, now + kSafetyPoll);
        }
        waitFor = end > played ? end - played : 0;
    }
    // Wake when the sink's clock should have passed the end of the oldest header.
    const auto until = std::chrono::microseconds(waitFor * 1000000 / chain_.Sink().rate + 1000);
    return std::min(deadline, now + std::min<Clock::duration>(until, kSafetyPoll));
}

void WaveOutStream::Run() {
    std::vector<WAVEHDR*> done;
    for (;;) {
        Requests requests{};
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests = Requests{requestSerial_, paused_, resetWanted_, closing_};
            resetWanted_ = false;
        }
        if (requests.closing) {
            break;
        }
        if (requests.reset) {
            DoReset(&done);
        }
        ApplySettings(requests);
        const bool failed = sink_->Failed();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            failed_ = failed_ || failed;
            appliedSerial_ = requests.serial;
        }
        applied_.notify_all();

        Clock::time_point deadline = Clock::time_point::max();
        if (failed) {
            // The device has gone: every header comes back at once, nothing waits for it;
            // but a paused stream keeps its headers until it is restarted, reset or closed.
            if (!sinkPaused_) {
                std::lock_guard<std::mutex> lock(mutex_);
                ReturnAll(&done);
            }
        } else if (!sinkPaused_) {
            Feed();
            Retire(&done);
            deadline = NextDeadline();
        }
        for (WAVEHDR* header : done) {
            Notify(MM_WOM_DONE, reinterpret_cast<LPARAM>(header));
        }
        done.clear();
        WaitForWork(deadline);
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        threadEnded_ = true;
    }
    applied_.notify_all();
}

}  // namespace platform
