#include "platform/kernel/SystemError.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <platform/kernel.h>

namespace platform {

namespace {

thread_local DWORD lastError = 0;
thread_local int lastErrno = 0;  // the Linux error behind lastError, 0 when none

struct ErrorPair {
    int errnoValue;
    DWORD windows;
};

// Several errnos share one Win32 number; the first row of a number is its usual cause.
constexpr ErrorPair kErrors[] = {
    {ENOENT, ERROR_FILE_NOT_FOUND},
    {ENOTDIR, ERROR_PATH_NOT_FOUND},
    {EACCES, ERROR_ACCESS_DENIED},
    {EPERM, ERROR_ACCESS_DENIED},
    {EISDIR, ERROR_ACCESS_DENIED},
    {EROFS, ERROR_ACCESS_DENIED},
    {EBADF, ERROR_INVALID_HANDLE},
    {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
    {EEXIST, ERROR_FILE_EXISTS},
    {ENOSPC, ERROR_DISK_FULL},
    {EDQUOT, ERROR_DISK_FULL},
    {EFBIG, ERROR_DISK_FULL},  // the file may grow no further: to the writer, a full disk
    {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE},
    {EINVAL, ERROR_INVALID_PARAMETER},
    {EINVAL, ERROR_NEGATIVE_SEEK},
};

}  // namespace

void SetLastSystemError(int error) {
    DWORD number = ERROR_INVALID_PARAMETER;  // what the callers report for anything else
    for (const ErrorPair& pair : kErrors) {
        if (pair.errnoValue == error) {
            number = pair.windows;
            break;
        }
    }
    lastError = number;
    lastErrno = error;
}

}  // namespace platform

DWORD GetLastError() {
    return platform::lastError;
}

void SetLastError(DWORD error) {
    platform::lastError = error;
    platform::lastErrno = 0;
}

DWORD FormatMessageA(DWORD flags, LPCVOID /*source*/, DWORD messageId, DWORD /*languageId*/,
                     LPSTR buffer, DWORD size, va_list* /*arguments*/) {
    if (buffer == nullptr || size == 0 || (flags & FORMAT_MESSAGE_FROM_SYSTEM) == 0) {
        return 0;
    }
    int error = messageId == platform::lastError ? platform::lastErrno : 0;
    for (const platform::ErrorPair& pair : platform::kErrors) {
        if (error == 0 && pair.windows == messageId) {
            error = pair.errnoValue;
        }
    }
    char unknown[32];
    std::snprintf(unknown, sizeof unknown, "System error %u", static_cast<unsigned>(messageId));
    const char* text = messageId == ERROR_SUCCESS ? "Success"
                       : error != 0               ? std::strerror(error)
                                                  : unknown;
    const int length = std::snprintf(buffer, size, "%s", text);
    return length < 0 ? 0 : std::min<DWORD>(static_cast<DWORD>(length), size - 1);
}
