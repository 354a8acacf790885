// The mmio* calls for opening, plain transfers, seeking and flushing.
#include <platform/mmio.h>

#include <cctype>
#include <cstdint>

#include <platform/file.h>
#include <platform/kernel.h>
#include "platform/mmio/MmioFile.h"

using platform::MmioFile;

namespace {

constexpr int64_t kMaxPosition = INT32_MAX;  // positions the LONG results can express

}  // namespace

HMMIO mmioOpenA(LPCSTR name, MMIOINFO* /*info*/, DWORD flags) {
    if (name == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const bool create = (flags & MMIO_CREATE) != 0;
    // Creating a file only to read it makes no sense; a created file is always writable.
    const bool writable = create || (flags & (MMIO_WRITE | MMIO_READWRITE)) != 0;
    DWORD access = GENERIC_READ;
    if (writable) {
        access = (flags & MMIO_WRITE) != 0 && (flags & MMIO_READWRITE) == 0
                     ? GENERIC_WRITE
                     : GENERIC_READ | GENERIC_WRITE;
    }
    HANDLE file =
        CreateFileA(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    create ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    // Owned by the handle registry until mmioClose.
    return (new MmioFile(file, writable))->AsMmio();
}

MMRESULT mmioClose(HMMIO mmio, UINT /*flags*/) {
    MmioFile* file = MmioFile::FromHandle(mmio);
    if (file == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    const bool flushed = file->Flush(false);
    const bool closed = file->Close();
    delete file;
    if (!flushed) {
        return MMIOERR_CANNOTWRITE;
    }
    return closed ? MMSYSERR_NOERROR : MMIOERR_CANNOTCLOSE;
}

LONG mmioRead(HMMIO mmio, char* buffer, LONG count) {
    MmioFile* file = MmioFile::FromHandle(mmio);
    if (file == nullptr) {
        return -1;
    }
    if (count < 0 || (buffer == nullptr && count != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    return static_cast<LONG>(file->Read(buffer, count));
}

LONG mmioWrite(HMMIO mmio, const char* buffer, LONG count) {
    MmioFile* file = MmioFile::FromHandle(mmio);
    if (file == nullptr) {
        return -1;
    }
    if (count < 0 || (buffer == nullptr && count != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    return static_cast<LONG>(file->Write(buffer, count));
}

LONG mmioSeek(HMMIO mmio, LONG offset, int origin) {
    MmioFile* file = MmioFile::FromHandle(mmio);
    if (file == nullptr) {
        return -1;
    }
    int64_t base;
    switch (origin) {
        case SEEK_SET:
            base = 0;
            break;
        case SEEK_CUR:
            base = file->Position();
            break;
        case SEEK_END:
            base = file->Size();
            break;
        default:
            SetLastError(ERROR_INVALID_PARAMETER);
            return -1;
    }
    if (base < 0) {
        return -1;
    }
    const int64_t target = base + offset;
    if (target < 0 || target > kMaxPosition) {
        SetLastError(target < 0 ? ERROR_NEGATIVE_SEEK : ERROR_INVALID_PARAMETER);
        return -1;
    }
    file->SeekTo(target);
    return static_cast<LONG>(target);
}

MMRESULT mmioFlush(HMMIO mmio, UINT flags) {
    MmioFile* file = MmioFile::FromHandle(mmio);
    if (file == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    return file->Flush((flags & MMIO_EMPTYBUF) != 0) ? MMSYSERR_NOERROR : MMIOERR_CANNOTWRITE;
}

FOURCC mmioStringToFOURCCA(LPCSTR text, UINT flags) {
    char code[4] = {' ', ' ', ' ', ' '};
    for (int i = 0; text != nullptr && i < 4 && text[i] != '\0'; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        code[i] = static_cast<char>((flags & MMIO_TOUPPER) != 0 ? std::toupper(c) : c);
    }
    return mmioFOURCC(code[0], code[1], code[2], code[3]);
}
