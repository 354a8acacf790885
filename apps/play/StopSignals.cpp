#include "apps/play/StopSignals.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

namespace {

// Before the status window exists nothing holds a device: a stop ends the process at once.
// While the window is built (playback starting, boxes shown) the stop waits for it; once it
// runs, the window is closed through its own message loop.
enum class Phase { Starting, Creating, Running, Ended };

std::mutex mutex;
Phase phase = Phase::Starting;
HWND target = nullptr;
bool stopRequested = false;

void* WaitForStop(void* signals) {
    int received = 0;
    while (sigwait(static_cast<sigset_t*>(signals), &received) == 0) {
        std::lock_guard<std::mutex> lock(mutex);
        stopRequested = true;
        if (phase == Phase::Starting) {
            _exit(0);
        }
        if (phase == Phase::Running) {
            PostMessageA(target, WM_CLOSE, 0, 0);
        }
    }
    return nullptr;
}

}  // namespace

void InstallStopSignals() {
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

void StopSignalsCreating() {
    std::lock_guard<std::mutex> lock(mutex);
    if (phase == Phase::Starting) {
        phase = Phase::Creating;
    }
}

void StopSignalsRunning(HWND window) {
    std::lock_guard<std::mutex> lock(mutex);
    phase = Phase::Running;
    target = window;
    if (stopRequested) {
        PostMessageA(target, WM_CLOSE, 0, 0);
    }
}

void StopSignalsRunEnded() {
    std::lock_guard<std::mutex> lock(mutex);
    phase = Phase::Ended;
}
