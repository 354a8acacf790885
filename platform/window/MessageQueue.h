// One thread's message queue: posted messages in order, the quit flag, the thread's timers
// and messages sent from other threads. Guarded by one mutex; the owning thread sleeps on a
// condition variable (or in the display backend's event pump on the GUI thread) until a
// message arrives or the next timer is due.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include <platform/window.h>

namespace platform {

class MessageQueue {
  public:
    explicit MessageQueue(DWORD threadId) : threadId_(threadId) {}

    DWORD ThreadId() const { return threadId_; }

    // False once the owning thread has ended.
    bool Post(const MSG& message);
    void PostQuit(int exitCode);

    // Retrieves the next matching message: sent messages from other threads are handled
    // first (they are not returned), then posted messages in order, then WM_QUIT, then due
    // timers. With wait false returns false at once when nothing matches.
    bool Retrieve(MSG* message, HWND filter, UINT filterMin, UINT filterMax, bool wait,
                  bool remove);

    // Runs the message on the owning thread and waits for its result. Returns false when
    // the owning thread has ended.
    bool SendFromOtherThread(const MSG& message, LRESULT* result);

    // Handles the messages other threads have sent to this (the calling) thread.
    void ServeIncomingSends();

    UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT milliseconds, TIMERPROC procedure);
    bool KillTimer(HWND window, UINT_PTR id);

    // Forgets posted messages and timers of a window that is gone.
    void ForgetWindow(HWND window);
    // The owning thread ends: pending sends are answered with 0, nothing more is accepted.
    void Shutdown();

  private:
    using Clock = std::chrono::steady_clock;
    struct Timer {
        HWND window;
        UINT_PTR id;
        Clock::duration period;
        Clock::time_point due;
        TIMERPROC procedure;
    };
    struct SentMessage {
        MSG message;
        LRESULT result = 0;
        bool done = false;
    };

    static bool Matches(const MSG& message, HWND filter, UINT filterMin, UINT filterMax);
    bool ServeSentMessages(std::unique_lock<std::mutex>& lock);
    void WakeOwner(bool pumping);

    const DWORD threadId_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::condition_variable answered_;
    std::deque<MSG> posted_;
    std::deque<std::shared_ptr<SentMessage>> sent_;
    std::vector<Timer> timers_;
    UINT_PTR nextThreadTimerId_ = 1;
    bool quit_ = false;
    int quitCode_ = 0;
    bool alive_ = true;
    bool pumping_ = false;  // the owner is in the display's event pump
};

// The calling thread's queue, created at first use.
MessageQueue& CurrentQueue();
std::shared_ptr<MessageQueue> CurrentQueuePtr();
// The queue of another thread, or null when that thread has none.
std::shared_ptr<MessageQueue> QueueOfThread(DWORD threadId);

}  // namespace platform
