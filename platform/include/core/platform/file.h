// Plain file I/O on POSIX descriptors, shaped like the CreateFileA family.
#pragma once

#include <platform/kernel.h>

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2
#define INVALID_SET_FILE_POINTER 0xFFFFFFFFu

struct SECURITY_ATTRIBUTES;

// Opens or creates a file. Sharing is always granted on Linux (advisory only); the access
// mask decides read-only or read-write. Returns INVALID_HANDLE_VALUE on failure and sets
// the last error.
HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD shareMode, SECURITY_ATTRIBUTES* security,
                   DWORD creation, DWORD flagsAndAttributes, HANDLE templateFile);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, DWORD* read, void* overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, DWORD* written, void* overlapped);
// Moves the file pointer; with distanceHigh null the offset is a signed 32-bit value.
// Returns the new low 32 bits of the position, or INVALID_SET_FILE_POINTER with the last
// error set.
DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method);
