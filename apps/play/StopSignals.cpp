#include "apps/play/StopSignals.h"

#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include <platform/kernel.h>

namespace {

std::mutex mutex;
std::condition_variable stopped;
bool stopRequested = false;
DWORD mainThread = 0;

// The quit message reaches every wait of the main thread: the message loop, and a modal box
// or dialog, whose own loop ends and posts the quit again for the loop around it.
void* WaitForStop(void* signals) {
    int received = 0;
    while (sigwait(static_cast<sigset_t*>(signals), &received) == 0) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stopRequested = true;
        }
        stopped.notify_all();
        PostThreadMessageA(mainThread, WM_QUIT, 0, 0);
    }
    return nullptr;
}

}  // namespace

void InstallStopSignals() {
    signal(SIGPIPE, SIG_IGN);
    mainThread = GetCurrentThreadId();
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);  // the queue exists from here on
    static sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    pthread_t thread;
    if (pthread_create(&thread, nullptr, WaitForStop, &signals) == 0) {
        pthread_detach(thread);
    }
}

bool StopRequested() {
    std::lock_guard<std::mutex> lock(mutex);
    return stopRequested;
}

bool PauseUnlessStopped(DWORD milliseconds) {
    std::unique_lock<std::mutex> lock(mutex);
    return !stopped.wait_for(lock, std::chrono::milliseconds(milliseconds),
                             [] { return stopRequested; });
}
