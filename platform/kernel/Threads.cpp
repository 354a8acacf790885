// Threads as kernel objects: the handle stays valid until CloseHandle, the thread itself runs
// detached and signals its shared end state, which WaitForSingleObject and GetExitCodeThread
// read. Closing the handle does not end the thread.
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include <platform/kernel.h>
#include "platform/kernel/KernelObject.h"

namespace platform {
namespace {

struct ThreadEnd {
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    DWORD exitCode = STILL_ACTIVE;
};

class ThreadObject final : public KernelObject {
  public:
    explicit ThreadObject(std::shared_ptr<ThreadEnd> end) : end_(std::move(end)) {}

    // Returns true when the thread ended within the timeout.
    bool WaitEnd(DWORD milliseconds) {
        std::unique_lock<std::mutex> lock(end_->mutex);
        if (milliseconds == INFINITE) {
            end_->ended.wait(lock, [&] { return end_->done; });
            return true;
        }
        return end_->ended.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                    [&] { return end_->done; });
    }

    DWORD ExitCode() {
        std::lock_guard<std::mutex> lock(end_->mutex);
        return end_->exitCode;
    }

  private:
    std::shared_ptr<ThreadEnd> end_;
};

}  // namespace
}  // namespace platform

using platform::ThreadEnd;
using platform::ThreadObject;

HANDLE CreateThread(SECURITY_ATTRIBUTES* /*security*/, size_t /*stackSize*/,
                    LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD flags, DWORD* threadId) {
    if (start == nullptr || (flags & CREATE_SUSPENDED) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto end = std::make_shared<ThreadEnd>();
    auto object = std::make_unique<ThreadObject>(end);
    // The new thread reports its id before the caller goes on, as the real call does.
    struct Startup {
        std::mutex mutex;
        std::condition_variable ready;
        DWORD id = 0;
        bool started = false;
    };
    auto startup = std::make_shared<Startup>();
    try {
        std::thread([start, parameter, end, startup] {
            {
                std::lock_guard<std::mutex> lock(startup->mutex);
                startup->id = GetCurrentThreadId();
                startup->started = true;
            }
            startup->ready.notify_all();
            const DWORD code = start(parameter);
            {
                std::lock_guard<std::mutex> lock(end->mutex);
                end->exitCode = code;
                end->done = true;
            }
            end->ended.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    std::unique_lock<std::mutex> lock(startup->mutex);
    startup->ready.wait(lock, [&] { return startup->started; });
    if (threadId != nullptr) {
        *threadId = startup->id;
    }
    return object.release()->AsHandle();  // owned by the handle registry until CloseHandle
}

BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode) {
    auto* object = platform::HandleAs<ThreadObject>(thread);
    if (object == nullptr || exitCode == nullptr) {
        SetLastError(object == nullptr ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *exitCode = object->ExitCode();
    return TRUE;
}

DWORD GetCurrentThreadId() {
    return static_cast<DWORD>(::syscall(SYS_gettid));
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    auto* object = platform::HandleAs<ThreadObject>(handle);
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    return object->WaitEnd(milliseconds) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

void Sleep(DWORD milliseconds) {
    if (milliseconds == INFINITE) {
        for (;;) {
            std::this_thread::sleep_for(std::chrono::hours(24));
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

DWORD SleepEx(DWORD milliseconds, BOOL /*alertable*/) {
    Sleep(milliseconds);
    return 0;
}
