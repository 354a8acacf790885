#include <cstdlib>

#include <platform/kernel.h>

// Fixed global-heap blocks are plain C heap blocks here; GMEM_ZEROINIT gives zeroed memory.
HGLOBAL GlobalAlloc(UINT flags, size_t bytes) {
    void* memory = (flags & GMEM_ZEROINIT) != 0 ? std::calloc(1, bytes == 0 ? 1 : bytes)
                                                : std::malloc(bytes == 0 ? 1 : bytes);
    if (memory == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    return memory;
}

HGLOBAL GlobalFree(HGLOBAL memory) {
    std::free(memory);
    return nullptr;
}
