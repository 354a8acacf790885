#include "platform/window/DisplayBackend.h"

#include <atomic>

namespace platform {
namespace {

DisplayBackend& NoDisplay() {
    static DisplayBackend backend;
    return backend;
}

std::atomic<DisplayBackend*> installed{nullptr};

}  // namespace

DisplayBackend& Display() {
    DisplayBackend* backend = installed.load(std::memory_order_acquire);
    return backend != nullptr ? *backend : NoDisplay();
}

void SetDisplayBackend(DisplayBackend* backend) {
    installed.store(backend, std::memory_order_release);
}

}  // namespace platform
