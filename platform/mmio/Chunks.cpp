// RIFF chunk navigation: descending into chunks, leaving them with size fix-up, creating them.
#include <platform/mmio.h>

#include <cstdint>

#include <platform/kernel.h>
#include "platform/mmio/MmioFile.h"

using platform::MmioFile;

namespace {

constexpr int64_t kHeaderSize = 8;
constexpr int64_t kFormTypeSize = 4;
constexpr int64_t kMaxOffset = UINT32_MAX;  // what a chunk record's data offset can hold

uint32_t GetLE32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

void PutLE32(uint8_t* bytes, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

bool IsForm(FOURCC id) {
    return id == FOURCC_RIFF || id == FOURCC_LIST;
}

// Offset just past a chunk's data and its pad byte.
int64_t ChunkEnd(int64_t dataOffset, uint32_t size) {
    return dataOffset + size + (size & 1u);
}

}  // namespace

MMRESULT mmioDescend(HMMIO mmio, MMCKINFO* chunk, const MMCKINFO* parent, UINT flags) {
    MmioFile* file = MmioFile::FromHandle(mmio);
    if (file == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    if (chunk == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    const bool search = (flags & (MMIO_FINDCHUNK | MMIO_FINDRIFF | MMIO_FINDLIST)) != 0;
    FOURCC wantedId = chunk->ckid;
    const bool byFormType = (flags & (MMIO_FINDRIFF | MMIO_FINDLIST)) != 0;
    if (byFormType) {
        wantedId = (flags & MMIO_FINDRIFF) != 0 ? FOURCC_RIFF : FOURCC_LIST;
    }
    const int64_t start = file->Position();
    const int64_t limit = parent != nullptr ? static_cast<int64_t>(parent->dwDataOffset) +
                                                  static_cast<int64_t>(parent->cksize)
                                            : INT64_MAX;
    // Every pass moves forward by at least one header, so the search ends at the end of the
    // parent or of the file, whatever sizes the headers claim.
    for (int64_t at = start; limit - at >= kHeaderSize && at + kHeaderSize <= kMaxOffset;) {
        uint8_t header[kHeaderSize + kFormTypeSize];
        file->SeekTo(at);
        if (file->Read(header, kHeaderSize) != kHeaderSize) {
            break;
        }
        const FOURCC id = GetLE32(header);
        const uint32_t size = GetLE32(header + 4);
        FOURCC formType = 0;
        if (IsForm(id)) {
            if (file->Read(header + kHeaderSize, kFormTypeSize) != kFormTypeSize) {
                break;
            }
            formType = GetLE32(header + kHeaderSize);
        }
        const bool found =
            !search || (id == wantedId && (!byFormType || formType == chunk->fccType));
        if (found) {
            chunk->ckid = id;
            chunk->cksize = size;
            chunk->fccType = formType;
            chunk->dwDataOffset = static_cast<DWORD>(at + kHeaderSize);
            chunk->dwFlags = 0;
            file->SeekTo(at + kHeaderSize + (IsForm(id) ? kFormTypeSize : 0));
            return MMSYSERR_NOERROR;
        }
        at = ChunkEnd(at + kHeaderSize, size);
    }
    file->SeekTo(start);
    return MMIOERR_CHUNKNOTFOUND;
}

MMRESULT mmioAscend(HMMIO mmio, MMCKINFO* chunk, UINT /*flags*/) {
    MmioFile* file = MmioFile::FromHandle(mmio);
    if (file == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    // A record that was never descended into or created has no header to come back to.
    if (chunk == nullptr || chunk->dwDataOffset < kHeaderSize) {
        return MMSYSERR_INVALPARAM;
    }
    const int64_t dataOffset = chunk->dwDataOffset;
    if ((chunk->dwFlags & MMIO_DIRTY) != 0) {
        const int64_t end = file->Position();
        const int64_t length = end - dataOffset;
        if (length < 0 || length > UINT32_MAX) {
            return MMIOERR_CANNOTSEEK;
        }
        const auto size = static_cast<uint32_t>(length);
        // A failed write leaves the record dirty and the position at the end of the data, so
        // that the caller's next write cannot land on the header and the ascend can be tried
        // again.
        if (size != chunk->cksize) {
            uint8_t field[4];
            PutLE32(field, size);
            file->SeekTo(dataOffset - 4);
            const bool written = file->Write(field, sizeof field) == sizeof field;
            file->SeekTo(end);
            if (!written) {
                return MMIOERR_CANNOTWRITE;
            }
            chunk->cksize = size;
        }
        if ((size & 1u) != 0) {
            const uint8_t pad = 0;
            if (file->Write(&pad, 1) != 1) {
                file->SeekTo(end);
                return MMIOERR_CANNOTWRITE;
            }
        }
        chunk->dwFlags &= ~MMIO_DIRTY;
    }
    file->SeekTo(ChunkEnd(dataOffset, chunk->cksize));
    return MMSYSERR_NOERROR;
}

MMRESULT mmioCreateChunk(HMMIO mmio, MMCKINFO* chunk, UINT flags) {
    MmioFile* file = MmioFile::FromHandle(mmio);
    if (file == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    if (chunk == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    const int64_t at = file->Position();
    if (at + kHeaderSize > kMaxOffset) {
        return MMIOERR_CANNOTEXPAND;
    }
    if ((flags & MMIO_CREATERIFF) != 0) {
        chunk->ckid = FOURCC_RIFF;
    } else if ((flags & MMIO_CREATELIST) != 0) {
        chunk->ckid = FOURCC_LIST;
    }
    uint8_t header[kHeaderSize + kFormTypeSize];
    PutLE32(header, chunk->ckid);
    PutLE32(header + 4, chunk->cksize);
    PutLE32(header + 8, chunk->fccType);
    const int64_t length = kHeaderSize + (IsForm(chunk->ckid) ? kFormTypeSize : 0);
    if (file->Write(header, length) != length) {
        file->SeekTo(at);
        return MMIOERR_CANNOTWRITE;
    }
    chunk->dwDataOffset = static_cast<DWORD>(at + kHeaderSize);
    chunk->dwFlags = MMIO_DIRTY;
    return MMSYSERR_NOERROR;
}
