#include <cstdio>

#include <platform/kernel.h>

void OutputDebugStringA(LPCSTR text) {
    if (text != nullptr) {
        std::fputs(text, stderr);
        std::fflush(stderr);
    }
}
