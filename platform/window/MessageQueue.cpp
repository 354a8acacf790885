#include "platform/window/MessageQueue.h"

#include <algorithm>
#include <mutex>
#include <unordered_map>

#include <platform/kernel.h>
#include "platform/window/DisplayBackend.h"
#include "platform/window/WindowObject.h"

namespace platform {

bool MessageQueue::Matches(const MSG& message, HWND filter, UINT filterMin, UINT filterMax) {
    if (filter != nullptr && message.hwnd != filter) {
        return false;
    }
    return (filterMin == 0 && filterMax == 0) ||
           (message.message >= filterMin && message.message <= filterMax);
}

// `pumping`: the owner waits in the display's event pump (read under the lock), which only
// its own wake-up ends; other threads' queues leave the pump alone.
void MessageQueue::WakeOwner(bool pumping) {
    arrived_.notify_all();
    if (pumping) {
        Display().Wake();
    }
}

bool MessageQueue::Post(const MSG& message) {
    bool pumping = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!alive_) {
            return false;
        }
        posted_.push_back(message);
        pumping = pumping_;
    }
    WakeOwner(pumping);
    return true;
}

void MessageQueue::PostQuit(int exitCode) {
    bool pumping = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
        quitCode_ = exitCode;
        pumping = pumping_;
    }
    WakeOwner(pumping);
}

bool MessageQueue::ServeSentMessages(std::unique_lock<std::mutex>& lock) {
    bool served = false;
    while (!sent_.empty()) {
        std::shared_ptr<SentMessage> sent = sent_.front();
        sent_.pop_front();
        lock.unlock();
        const MSG& m = sent->message;
        WNDPROC procedure = ProcedureOf(m.hwnd);
        const LRESULT result =
            procedure != nullptr ? procedure(m.hwnd, m.message, m.wParam, m.lParam) : 0;
        lock.lock();
        sent->result = result;
        sent->done = true;
        answered_.notify_all();
        served = true;
    }
    return served;
}

bool MessageQueue::Retrieve(MSG* message, HWND filter, UINT filterMin, UINT filterMax, bool wait,
                            bool remove) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        ServeSentMessages(lock);

        auto found = std::find_if(posted_.begin(), posted_.end(), [&](const MSG& m) {
            return Matches(m, filter, filterMin, filterMax);
        });
        if (found != posted_.end()) {
            *message = *found;
            if (remove) {
                posted_.erase(found);
            }
            return true;
        }
        const bool quitInRange =
            (filterMin == 0 && filterMax == 0) || (WM_QUIT >= filterMin && WM_QUIT <= filterMax);
        if (quit_ && quitInRange) {
            *message =
                MSG{nullptr, WM_QUIT, static_cast<WPARAM>(quitCode_), 0, GetTickCount(), {0, 0}};
            if (remove) {
                quit_ = false;
            }
            return true;
        }

        const Clock::time_point now = Clock::now();
        Clock::time_point nextDue = Clock::time_point::max();
        for (Timer& timer : timers_) {
            MSG tick{timer.window,   WM_TIMER, timer.id, reinterpret_cast<LPARAM>(timer.procedure),
                     GetTickCount(), {0, 0}};
            if (!Matches(tick, filter, filterMin, filterMax)) {
                continue;
            }
            if (timer.due <= now) {
                *message = tick;
                if (remove) {
                    timer.due = now + timer.period;
                }
                return true;
            }
            nextDue = std::min(nextDue, timer.due);
        }

        if (!wait) {
            return false;
        }
        DisplayBackend& display = Display();
        if (display.IsGuiThread()) {
            pumping_ = true;
            lock.unlock();
            display.PumpEvents(nextDue);
            lock.lock();
            pumping_ = false;
        } else if (nextDue == Clock::time_point::max()) {
            arrived_.wait(lock);
        } else {
            arrived_.wait_until(lock, nextDue);
        }
    }
}

bool MessageQueue::SendFromOtherThread(const MSG& message, LRESULT* result) {
    auto sent = std::make_shared<SentMessage>();
    sent->message = message;
    std::unique_lock<std::mutex> lock(mutex_);
    if (!alive_) {
        return false;
    }
    sent_.push_back(sent);
    WakeOwner(pumping_);
    // While waiting, messages sent to the waiting thread are served, as the real call does,
    // so two threads sending to each other do not wait for ever.
    MessageQueue& own = CurrentQueue();
    while (!sent->done && alive_) {
        answered_.wait_for(lock, std::chrono::milliseconds(5));
        if (!sent->done && &own != this) {
            lock.unlock();
            own.ServeIncomingSends();
            lock.lock();
        }
    }
    if (!sent->done) {
        return false;
    }
    *result = sent->result;
    return true;
}

void MessageQueue::ServeIncomingSends() {
    std::unique_lock<std::mutex> lock(mutex_);
    ServeSentMessages(lock);
}

UINT_PTR MessageQueue::SetTimer(HWND window, UINT_PTR id, UINT milliseconds, TIMERPROC procedure) {
    // Periods below 10 ms are raised to 10 ms, as the real service does.
    const auto period = std::chrono::milliseconds(std::max<UINT>(milliseconds, 10));
    std::lock_guard<std::mutex> lock(mutex_);
    if (window == nullptr) {
        id = nextThreadTimerId_++;
    }
    auto same = std::find_if(timers_.begin(), timers_.end(), [&](const Timer& timer) {
        return timer.window == window && timer.id == id;
    });
    Timer timer{window, id, period, Clock::now() + period, procedure};
    if (same != timers_.end()) {
        *same = timer;
    } else {
        timers_.push_back(timer);
    }
    arrived_.notify_all();
    return id;
}

bool MessageQueue::KillTimer(HWND window, UINT_PTR id) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto before = timers_.size();
    std::erase_if(timers_,
                  [&](const Timer& timer) { return timer.window == window && timer.id == id; });
    std::erase_if(posted_, [&](const MSG& m) {
        return m.hwnd == window && m.message == WM_TIMER && m.wParam == id;
    });
    return timers_.size() != before;
}

void MessageQueue::ForgetWindow(HWND window) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::erase_if(posted_, [&](const MSG& m) { return m.hwnd == window; });
    std::erase_if(timers_, [&](const Timer& timer) { return timer.window == window; });
}

void MessageQueue::Shutdown() {
    std::lock_guard<std::mutex> lock(mutex_);
    alive_ = false;
    posted_.clear();
    timers_.clear();
    for (auto& sent : sent_) {
        sent->done = true;  // answered with 0
    }
    sent_.clear();
    answered_.notify_all();
}

namespace {

std::mutex& ThreadsMutex() {
    static std::mutex mutex;
    return mutex;
}

std::unordered_map<DWORD, std::weak_ptr<MessageQueue>>& QueuesByThread() {
    static auto* queues = new std::unordered_map<DWORD, std::weak_ptr<MessageQueue>>();
    return *queues;
}

// Owns the thread's queue; at thread end its windows go and waiting senders are released.
struct ThreadQueue {
    std::shared_ptr<MessageQueue> queue;
    ~ThreadQueue() {
        if (queue == nullptr) {
            return;
        }
        ForgetWindowsOf(queue.get());
        queue->Shutdown();
        std::lock_guard<std::mutex> lock(ThreadsMutex());
        QueuesByThread().erase(queue->ThreadId());
    }
};

thread_local ThreadQueue threadQueue;

}  // namespace

std::shared_ptr<MessageQueue> CurrentQueuePtr() {
    if (threadQueue.queue == nullptr) {
        const DWORD id = GetCurrentThreadId();
        threadQueue.queue = std::make_shared<MessageQueue>(id);
        std::lock_guard<std::mutex> lock(ThreadsMutex());
        QueuesByThread()[id] = threadQueue.queue;
    }
    return threadQueue.queue;
}

MessageQueue& CurrentQueue() {
    return *CurrentQueuePtr();
}

std::shared_ptr<MessageQueue> QueueOfThread(DWORD threadId) {
    std::lock_guard<std::mutex> lock(ThreadsMutex());
    auto found = QueuesByThread().find(threadId);
    return found != QueuesByThread().end() ? found->second.lock() : nullptr;
}

}  // namespace platform
