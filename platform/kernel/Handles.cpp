#include "platform/kernel/KernelObject.h"

#include <mutex>
#include <unordered_set>

#include <platform/kernel.h>

namespace platform {
namespace {

std::mutex& RegistryMutex() {
    static std::mutex mutex;
    return mutex;
}

std::unordered_set<KernelObject*>& Registry() {
    static auto* registry = new std::unordered_set<KernelObject*>();  // outlives static dtors
    return *registry;
}

}  // namespace

KernelObject::KernelObject() {
    std::lock_guard<std::mutex> lock(RegistryMutex());
    Registry().insert(this);
}

KernelObject::~KernelObject() {
    std::lock_guard<std::mutex> lock(RegistryMutex());
    Registry().erase(this);
}

KernelObject* LookupHandle(HANDLE handle) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(RegistryMutex());
    auto* object = static_cast<KernelObject*>(handle);
    return Registry().count(object) != 0 ? object : nullptr;
}

}  // namespace platform

BOOL CloseHandle(HANDLE handle) {
    platform::KernelObject* object = platform::LookupHandle(handle);
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const bool closed = object->Close();
    delete object;
    return closed ? TRUE : FALSE;
}
