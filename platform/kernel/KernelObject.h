// Base of every object that a HANDLE designates (files, threads). Handles are registered
// so that CloseHandle and the typed look-ups can reject stale or foreign handles instead
// of dereferencing them.
#pragma once

#include <platform/types.h>

namespace platform {

class KernelObject {
  public:
    KernelObject();
    virtual ~KernelObject();
    KernelObject(const KernelObject&) = delete;
    KernelObject& operator=(const KernelObject&) = delete;

    // Releases the underlying resource; false when the system refused. Called once by
    // CloseHandle before the object is deleted.
    virtual bool Close() { return true; }

    HANDLE AsHandle() { return static_cast<HANDLE>(this); }
};

// Returns the live object of type T behind the handle, or null.
KernelObject* LookupHandle(HANDLE handle);
template <typename T>
T* HandleAs(HANDLE handle) {
    return dynamic_cast<T*>(LookupHandle(handle));
}

}  // namespace platform
