// Buffered multimedia file I/O with RIFF chunk support, shaped like the mmio* calls.
//
// Positions are 32-bit in the interface (mmioSeek returns a LONG); chunk records carry 32-bit
// sizes and offsets. Small reads and writes go through a buffer; requests of a buffer's size
// or more go straight to the file, so block I/O costs what plain file I/O costs.
#pragma once

#include <cstdio>

#include <platform/types.h>

// Open flags.
#define MMIO_READ 0x00000000u
#define MMIO_WRITE 0x00000001u
#define MMIO_READWRITE 0x00000002u
#define MMIO_DENYNONE 0x00000040u
#define MMIO_CREATE 0x00001000u

// Chunk search and creation flags.
#define MMIO_FINDCHUNK 0x0010u
#define MMIO_FINDRIFF 0x0020u
#define MMIO_FINDLIST 0x0040u
#define MMIO_CREATERIFF 0x0020u
#define MMIO_CREATELIST 0x0040u
// Chunk record flag: the size in the file must be corrected when leaving the chunk.
#define MMIO_DIRTY 0x10000000u
// mmioFlush: also empty the buffer, so that the next access reads the file again.
#define MMIO_EMPTYBUF 0x0010u
// mmioStringToFOURCCA: convert the characters to upper case.
#define MMIO_TOUPPER 0x0010u

// Results (MMRESULT); 0 is success.
#define MMSYSERR_NOERROR 0
#define MMSYSERR_INVALHANDLE 5
#define MMSYSERR_INVALPARAM 11
#define MMIOERR_BASE 256
#define MMIOERR_FILENOTFOUND (MMIOERR_BASE + 1)
#define MMIOERR_OUTOFMEMORY (MMIOERR_BASE + 2)
#define MMIOERR_CANNOTOPEN (MMIOERR_BASE + 3)
#define MMIOERR_CANNOTCLOSE (MMIOERR_BASE + 4)
#define MMIOERR_CANNOTREAD (MMIOERR_BASE + 5)
#define MMIOERR_CANNOTWRITE (MMIOERR_BASE + 6)
#define MMIOERR_CANNOTSEEK (MMIOERR_BASE + 7)
#define MMIOERR_CANNOTEXPAND (MMIOERR_BASE + 8)
#define MMIOERR_CHUNKNOTFOUND (MMIOERR_BASE + 9)

// mmioSeek takes the stdio origins SEEK_SET (0), SEEK_CUR (1) and SEEK_END (2).

constexpr FOURCC mmioFOURCC(char c0, char c1, char c2, char c3) {
    return static_cast<FOURCC>(static_cast<uint8_t>(c0)) |
           static_cast<FOURCC>(static_cast<uint8_t>(c1)) << 8 |
           static_cast<FOURCC>(static_cast<uint8_t>(c2)) << 16 |
           static_cast<FOURCC>(static_cast<uint8_t>(c3)) << 24;
}

constexpr FOURCC FOURCC_RIFF = mmioFOURCC('R', 'I', 'F', 'F');
constexpr FOURCC FOURCC_LIST = mmioFOURCC('L', 'I', 'S', 'T');

// One chunk: id, size of the data after the 8-byte header, form type (RIFF and LIST only),
// file offset of the data (for RIFF and LIST: of the form type), flags (MMIO_DIRTY).
struct MMCKINFO {
    FOURCC ckid;
    DWORD cksize;
    FOURCC fccType;
    DWORD dwDataOffset;
    DWORD dwFlags;
};
static_assert(sizeof(MMCKINFO) == 20);

// Custom I/O procedures and caller-supplied buffers are not provided; callers pass null.
struct MMIOINFO;

// Opens name with the open flags; MMIO_CREATE creates or truncates. Returns null on failure
// with the system error in GetLastError.
HMMIO mmioOpenA(LPCSTR name, MMIOINFO* info, DWORD flags);
// Writes out the buffer and closes; 0, or MMIOERR_CANNOTWRITE / MMIOERR_CANNOTCLOSE.
MMRESULT mmioClose(HMMIO mmio, UINT flags);
// Read or write count bytes at the current position: the number of bytes, 0 at the end of
// the file, or -1 on failure (a file opened for reading refuses writes).
LONG mmioRead(HMMIO mmio, char* buffer, LONG count);
LONG mmioWrite(HMMIO mmio, const char* buffer, LONG count);
// The new position, or -1 for an invalid origin or a target before 0 or past 2 GiB.
LONG mmioSeek(HMMIO mmio, LONG offset, int origin);
// Writes out the buffer; with MMIO_EMPTYBUF also forgets what it held.
MMRESULT mmioFlush(HMMIO mmio, UINT flags);

// From the current position, reads chunk headers one after the other inside parent (when
// given), skipping each chunk's data and pad byte, until the wanted chunk: MMIO_FINDRIFF
// matches "RIFF" with chunk->fccType, MMIO_FINDLIST "LIST" with chunk->fccType,
// MMIO_FINDCHUNK chunk->ckid; without a find flag the chunk at the current position is taken.
// On success fills chunk, clears its flags and leaves the position at its data (after the
// form type); otherwise MMIOERR_CHUNKNOTFOUND with the position unchanged.
MMRESULT mmioDescend(HMMIO mmio, MMCKINFO* chunk, const MMCKINFO* parent, UINT flags);
// Leaves chunk. A dirty record takes the current position as the end of its data: a changed
// size is written into the header, odd data gets one zero pad byte. Then the position is
// set just after the chunk and its pad byte.
MMRESULT mmioAscend(HMMIO mmio, MMCKINFO* chunk, UINT flags);
// Writes a chunk header at the current position ("RIFF" or "LIST" with their create flags,
// then the form type), records the data offset and marks the record dirty.
MMRESULT mmioCreateChunk(HMMIO mmio, MMCKINFO* chunk, UINT flags);
// The first four characters of text as a chunk id, padded with blanks.
FOURCC mmioStringToFOURCCA(LPCSTR text, UINT flags);
