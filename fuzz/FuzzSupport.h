// Shared by the fuzz targets: a check that aborts (libFuzzer keeps the input as a crash) and
// read sizes taken from the input.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <fuzzer/FuzzedDataProvider.h>

#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)

namespace fuzzsupport {

// A read size from the input's end while it lasts, then a large fixed one.
inline int32_t NextSize(FuzzedDataProvider& provider, int32_t maxSize, int32_t fallback) {
    return provider.remaining_bytes() ? provider.ConsumeIntegralInRange(0, maxSize) : fallback;
}

}  // namespace fuzzsupport
