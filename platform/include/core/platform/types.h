// Basic types of the Win32-shaped platform API. DWORD, UINT and LONG are 32-bit on every
// target so that the records the program exchanges keep their sizes.
#pragma once

#include <cstddef>
#include <cstdint>

using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using UINT = uint32_t;
using LONG = int32_t;
using ULONG = uint32_t;
using BOOL = int32_t;
using CHAR = char;
using LPSTR = char*;
using LPCSTR = const char*;
using LPVOID = void*;
using LPCVOID = const void*;
using DWORD_PTR = uintptr_t;
using UINT_PTR = uintptr_t;
using LONG_PTR = intptr_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
using INT_PTR = intptr_t;
using FOURCC = DWORD;
using MMRESULT = UINT;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

// Opaque handles. Each kind is a distinct pointer type so that mix-ups do not compile.
using HANDLE = void*;
#define QDL_DECLARE_HANDLE(name) \
    struct name##__;             \
    using name = name##__*
QDL_DECLARE_HANDLE(HWND);
QDL_DECLARE_HANDLE(HINSTANCE);
QDL_DECLARE_HANDLE(HICON);
QDL_DECLARE_HANDLE(HBRUSH);
QDL_DECLARE_HANDLE(HMENU);
QDL_DECLARE_HANDLE(HFONT);
QDL_DECLARE_HANDLE(HMMIO);
QDL_DECLARE_HANDLE(HWAVEOUT);
#undef QDL_DECLARE_HANDLE
using HCURSOR = HICON;
using HMODULE = HINSTANCE;
using HGDIOBJ = void*;
using HGLOBAL = void*;

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))

#define LOWORD(l) (static_cast<WORD>(static_cast<DWORD_PTR>(l) & 0xFFFF))
#define HIWORD(l) (static_cast<WORD>((static_cast<DWORD_PTR>(l) >> 16) & 0xFFFF))

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
static_assert(sizeof(GUID) == 16);
