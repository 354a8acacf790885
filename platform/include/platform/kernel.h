// Handles, the thread's last error, the global heap, debugger output.
#pragma once

#include <platform/types.h>

// Closes a file or thread handle. Returns FALSE for a null or unknown handle.
BOOL CloseHandle(HANDLE handle);

DWORD GetLastError();
void SetLastError(DWORD error);

#define GMEM_FIXED 0x0000
#define GMEM_ZEROINIT 0x0040
#define GPTR (GMEM_FIXED | GMEM_ZEROINIT)
HGLOBAL GlobalAlloc(UINT flags, size_t bytes);
HGLOBAL GlobalFree(HGLOBAL memory);  // null on success, as the real call

// Debugger output; on Linux the text goes to standard error unchanged.
void OutputDebugStringA(LPCSTR text);

// Win32 error numbers that the platform reports through GetLastError.
#define ERROR_SUCCESS 0
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_PATH_NOT_FOUND 3
#define ERROR_ACCESS_DENIED 5
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_WRITE_FAULT 29
#define ERROR_READ_FAULT 30
#define ERROR_SHARING_VIOLATION 32
#define ERROR_HANDLE_DISK_FULL 39
#define ERROR_FILE_EXISTS 80
#define ERROR_INVALID_PARAMETER 87
#define ERROR_DISK_FULL 112
#define ERROR_NEGATIVE_SEEK 131
#define ERROR_ALREADY_EXISTS 183
#define ERROR_FILENAME_EXCED_RANGE 206
