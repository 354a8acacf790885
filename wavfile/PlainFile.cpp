// The plain-file layer: stdio-like mode texts on the platform's file calls. Sizes and
// offsets are signed 32-bit; a position beyond that range reads as INT32_MAX.
#include <climits>
#include <cstdint>

#include <platform/file.h>
#include "wavfile/WavFileBase.h"

namespace {

// Bytes of count elements of size, or -1 when negative or beyond a 32-bit transfer.
int64_t TransferBytes(int32_t size, int32_t count) {
    if (size < 0 || count < 0) {
        return -1;
    }
    const int64_t bytes = static_cast<int64_t>(size) * count;
    return bytes > INT32_MAX ? -1 : bytes;
}

}  // namespace

PlainFile* PlainFileOpen(const char* name, const char* mode) {
    const bool create = mode != nullptr && mode[0] == 'w';
    HANDLE handle =
        CreateFileA(name, create ? (GENERIC_READ | GENERIC_WRITE) : GENERIC_READ,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    create ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    return new PlainFile{handle};
}

int32_t PlainFileClose(PlainFile* file) {
    if (file == nullptr) {
        return 0;
    }
    const BOOL closed = CloseHandle(file->Handle);
    delete file;
    return closed ? 0 : 1;
}

int32_t PlainFileRead(void* buffer, int32_t size, int32_t count, PlainFile* file) {
    const int64_t bytes = TransferBytes(size, count);
    if (file == nullptr || bytes <= 0) {
        return 0;
    }
    DWORD read = 0;
    if (!ReadFile(file->Handle, buffer, static_cast<DWORD>(bytes), &read, nullptr)) {
        return 0;
    }
    return static_cast<int32_t>(read);
}

int32_t PlainFileWrite(const void* buffer, int32_t size, int32_t count, PlainFile* file) {
    const int64_t bytes = TransferBytes(size, count);
    if (file == nullptr || bytes <= 0) {
        return 0;
    }
    DWORD written = 0;
    if (!WriteFile(file->Handle, buffer, static_cast<DWORD>(bytes), &written, nullptr)) {
        return 0;
    }
    return static_cast<int32_t>(written);
}

int32_t PlainFileSeek(PlainFile* file, int32_t offset, int32_t origin) {
    if (file == nullptr) {
        return 1;
    }
    DWORD method = FILE_BEGIN;
    if (origin == PLAINSEEK_CURRENT) {
        method = FILE_CURRENT;
    } else if (origin == PLAINSEEK_END) {
        method = FILE_END;
    }
    // The 64-bit form, so that seeks in files beyond 4 GiB are not mistaken for failures.
    LONG high = offset < 0 ? -1 : 0;
    const DWORD low = SetFilePointer(file->Handle, offset, &high, method);
    return low == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS ? 1 : 0;
}

int32_t PlainFileTell(PlainFile* file) {
    if (file == nullptr) {
        return 0;
    }
    LONG high = 0;
    const DWORD low = SetFilePointer(file->Handle, 0, &high, FILE_CURRENT);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS) {
        return 0;
    }
    const uint64_t position = static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32 | low;
    return position > INT32_MAX ? INT32_MAX : static_cast<int32_t>(position);
}
