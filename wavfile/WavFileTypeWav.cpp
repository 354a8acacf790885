#include "wavfile/WavFileTypeWav.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include <platform/kernel.h>

namespace {

constexpr FOURCC kWave = mmioFOURCC('W', 'A', 'V', 'E');
constexpr FOURCC kFmt = mmioFOURCC('f', 'm', 't', ' ');
constexpr FOURCC kData = mmioFOURCC('d', 'a', 't', 'a');
constexpr FOURCC kFact = mmioFOURCC('f', 'a', 'c', 't');
constexpr uint32_t kFormatSize = WAVE_FORMAT_IMAGE_SIZE;

// PCM and IEEE float need no fact chunk: ((tag - 1) & 0xFFFD) == 0 holds for 1 and 3 only.
bool IsPcmTag(uint16_t tag) {
    return ((tag - 1u) & 0xFFFDu) == 0;
}

void DebugLine(const char* format) {
    char line[128];
    std::snprintf(line, sizeof line, format, static_cast<unsigned>(GetLastError()));
    OutputDebugStringA(line);
}

// Offset just past a chunk's data and its pad byte.
int64_t ChunkEnd(const MMCKINFO& chunk) {
    return static_cast<int64_t>(chunk.dwDataOffset) + chunk.cksize + (chunk.cksize & 1u);
}

}  // namespace

TWavFileTypeWav::TWavFileTypeWav(const char* name, const char* mode, int32_t* error)
    : TWavFileBase(name, mode, error) {
    if (error != nullptr) {
        *error = WAVFILE_OK;
    }
}

TWavFileTypeWav::~TWavFileTypeWav() {
    TWavFileTypeWav::Close();
}

void TWavFileTypeWav::CloseMmio() {
    if (Mmio != nullptr) {
        mmioClose(Mmio, 0);
        Mmio = nullptr;
    }
}

int32_t TWavFileTypeWav::CloseMmioWith(int32_t error) {
    CloseMmio();
    return error;
}

int32_t TWavFileTypeWav::Open(const char* name, uint32_t flags) {
    if (Mmio != nullptr) {
        Close();
    }
    Failure = WAVFILE_OK;
    Mmio = mmioOpenA(name, nullptr, flags);
    if (Mmio == nullptr) {
        return WAVFILE_OPEN_FAILED;
    }
    DataLength = 0;
    ReadCount = 0;
    return WAVFILE_OK;
}

int32_t TWavFileTypeWav::Close() {
    int32_t result = UpdateHeader();
    if (Mmio != nullptr) {
        if (mmioClose(Mmio, 0) != MMSYSERR_NOERROR && result == WAVFILE_OK) {
            result = WAVFILE_CLOSE_FAILED;
        }
        Mmio = nullptr;
    }
    if (Failure == WAVFILE_OK) {
        Failure = result;
    }
    return Failure;
}

int32_t TWavFileTypeWav::Seek(int32_t offset, int32_t origin) {
    int mmioOrigin = SEEK_CUR;
    if (origin == WAVSEEK_END) {
        mmioOrigin = SEEK_END;
    } else if (origin == WAVSEEK_START) {
        mmioOrigin = SEEK_SET;
    }
    if (Mmio != nullptr && mmioSeek(Mmio, offset, mmioOrigin) == -1) {
        return WAVFILE_READ_FAILED;  // the position stays where it was
    }
    return WAVFILE_OK;
}

int32_t TWavFileTypeWav::ReadHeader(int32_t flag) {
    RiffChunk.fccType = kWave;
    if (mmioDescend(Mmio, &RiffChunk, nullptr, MMIO_FINDRIFF) != 0) {
        return CloseMmioWith(WAVFILE_NOT_WAVE);
    }
    SubChunk.ckid = kFmt;
    if (mmioDescend(Mmio, &SubChunk, &RiffChunk, MMIO_FINDCHUNK) != 0) {
        return CloseMmioWith(WAVFILE_CORRUPT);
    }
    const LONG formatBytes = static_cast<LONG>(std::min(SubChunk.cksize, kFormatSize));
    if (mmioRead(Mmio, reinterpret_cast<char*>(WaveFormat), formatBytes) != formatBytes) {
        return CloseMmioWith(WAVFILE_NO_FORMAT_CHUNK);
    }
    mmioAscend(Mmio, &SubChunk, 0);  // also skips the rest of a longer chunk
    SubChunk.ckid = kData;
    if (mmioDescend(Mmio, &SubChunk, &RiffChunk, MMIO_FINDCHUNK) != 0) {
        return CloseMmioWith(WAVFILE_NO_DATA_CHUNK);
    }

    // A size that claims more than the file holds counts only what is there, and never more
    // than a signed 32-bit count can express.
    const int64_t dataOffset = SubChunk.dwDataOffset;
    const int64_t fileEnd = mmioSeek(Mmio, 0, SEEK_END);
    int64_t present = SubChunk.cksize;
    if (fileEnd >= 0) {
        present = std::clamp<int64_t>(fileEnd - dataOffset, 0, present);
    }
    DataLength = static_cast<int32_t>(std::min<int64_t>(present, INT32_MAX));
    const uint16_t blockAlign = BlockAlign();
    if (blockAlign != 0) {
        DataLength = DataLength / blockAlign * blockAlign;
        const uint32_t average = AvgBytesPerSec();
        SamplesPerFrame = average != 0 ? SamplesPerSec() * blockAlign / average : 0;
        if (SamplesPerFrame == 0) {
            // No usable average: take the tag's own frame size, else one sample per block.
            // Naming the format sets the frame size of the tags it knows; the name itself
            // is not needed here.
            char name[32];
            GetFormatName(name, nullptr, nullptr);
            if (SamplesPerFrame == 0) {
                SamplesPerFrame = 1;
            }
        }
    }

    if (flag != 0) {
        // Appending continues the audio right after its last byte (over a pad byte). Chunks
        // after the data would be overwritten and swallowed by the data size: refuse.
        if (fileEnd < 0 || fileEnd > ChunkEnd(SubChunk)) {
            return CloseMmioWith(WAVFILE_APPEND_REFUSED);
        }
        RiffChunk.dwFlags |= MMIO_DIRTY;
        SubChunk.dwFlags |= MMIO_DIRTY;
        mmioSeek(Mmio, static_cast<LONG>(dataOffset + present), SEEK_SET);
        return WAVFILE_OK;
    }
    if (DataLength == 0) {
        return CloseMmioWith(WAVFILE_NO_DATA_CHUNK);
    }
    mmioSeek(Mmio, static_cast<LONG>(dataOffset), SEEK_SET);
    return WAVFILE_OK;
}

int32_t TWavFileTypeWav::ReadWavData(void* buffer, int32_t count) {
    if (count <= 0) {
        return 0;
    }
    LONG got = mmioRead(Mmio, static_cast<char*>(buffer), count);
    if (got == -1) {
        DebugLine("TWavFileTypeWav::ReadWavData() mmioRead() failed %08X\n");
        got = 0;
    }
    // Bytes read past the end of the data chunk are not delivered.
    const int32_t remaining = DataLength > ReadCount ? DataLength - ReadCount : 0;
    got = std::min(got, remaining);
    ReadCount += got;
    return got;
}

int32_t TWavFileTypeWav::WriteHeader() {
    RiffChunk = MMCKINFO{};
    RiffChunk.fccType = mmioStringToFOURCCA("WAVE", 0);
    RiffChunk.dwFlags = MMIO_DIRTY;
    if (mmioCreateChunk(Mmio, &RiffChunk, MMIO_CREATERIFF) != 0) {
        return CloseMmioWith(WAVFILE_CREATE_CHUNK_FAILED);
    }
    SubChunk.ckid = mmioStringToFOURCCA("fmt ", 0);
    SubChunk.cksize = kFormatSize;
    if (mmioCreateChunk(Mmio, &SubChunk, 0) != 0) {
        return CloseMmioWith(WAVFILE_CREATE_CHUNK_FAILED);
    }
    if (mmioWrite(Mmio, reinterpret_cast<const char*>(WaveFormat), kFormatSize) !=
        static_cast<LONG>(kFormatSize)) {
        return CloseMmioWith(WAVFILE_CREATE_CHUNK_FAILED);
    }
    if (mmioAscend(Mmio, &SubChunk, 0) != 0) {
        return CloseMmioWith(WAVFILE_UNKNOWN_FAILURE);
    }
    if (!IsPcmTag(FormatTag())) {
        FactChunk.ckid = kFact;
        FactChunk.cksize = 4;
        if (mmioCreateChunk(Mmio, &FactChunk, 0) != 0) {
            return CloseMmioWith(WAVFILE_CREATE_CHUNK_FAILED);
        }
        const char zero[4] = {};
        if (mmioWrite(Mmio, zero, sizeof zero) != sizeof zero) {
            return CloseMmioWith(WAVFILE_UNKNOWN_FAILURE);
        }
        if (mmioAscend(Mmio, &FactChunk, 0) != 0) {
            return CloseMmioWith(WAVFILE_UNKNOWN_FAILURE);
        }
    }
    SubChunk.ckid = kData;
    SubChunk.dwFlags = MMIO_DIRTY;  // the size stays 40 until the first finalisation
    if (mmioCreateChunk(Mmio, &SubChunk, 0) != 0) {
        return CloseMmioWith(WAVFILE_CREATE_CHUNK_FAILED);
    }
    return WAVFILE_OK;
}

int32_t TWavFileTypeWav::WriteWavData(const void* data, int32_t count) {
    if (count < 0 || Failure != WAVFILE_OK) {
        return 0;
    }
    int32_t written = 0;
    const bool open = Mmio != nullptr;
    if (open) {
        written = mmioWrite(Mmio, static_cast<const char*>(data), count);
        if (written != count) {
            DebugLine("TWavFileTypeWav::WriteWavData() mmioWrite() failed %08X\n");
            Failure = WAVFILE_WRITE_FAILED;
            return 0;
        }
    }
    DataLength = AddClamped(DataLength, count);
    const int32_t total = DataLength;
    if (FirstWriteDone == 0) {
        // Make the file on disk complete now, then carry on as an append to it. Appending
        // positions after the last audio byte (not after a pad byte) and keeps the file open
        // even when less than one block has been written so far.
        FirstWriteDone = 1;
        const int32_t finished = UpdateHeader();
        if (finished != WAVFILE_OK) {
            Failure = finished;
            return 0;
        }
        Seek(0, WAVSEEK_START);
        if (ReadHeader(1) != WAVFILE_OK && open) {
            Failure = WAVFILE_WRITE_FAILED;  // closed: later writes would be lost
            return 0;
        }
        DataLength = total;
    }
    return written;
}

// A record that was only read moves the position and cannot fail; a dirty one must get its
// size written.
bool TWavFileTypeWav::Ascended(MMCKINFO& chunk) {
    const bool dirty = (chunk.dwFlags & MMIO_DIRTY) != 0;
    return mmioAscend(Mmio, &chunk, 0) == MMSYSERR_NOERROR || !dirty;
}

int32_t TWavFileTypeWav::UpdateHeader() {
    if (Mmio == nullptr) {
        return WAVFILE_OK;
    }
    // Only a file that is being written or appended to has a fact count to bring up to date.
    const bool writing = (SubChunk.dwFlags & MMIO_DIRTY) != 0;
    // The RIFF size is left alone when the data size could not be written: it would count
    // bytes that the data chunk does not.
    if (!Ascended(SubChunk) || !Ascended(RiffChunk) ||
        mmioFlush(Mmio, MMIO_EMPTYBUF) != MMSYSERR_NOERROR) {
        return WAVFILE_WRITE_FAILED;
    }
    if (IsPcmTag(FormatTag()) || !writing) {
        return WAVFILE_OK;
    }
    if (mmioSeek(Mmio, 0, SEEK_SET) != 0) {
        return WAVFILE_WRITE_FAILED;
    }
    RiffChunk.fccType = kWave;
    if (mmioDescend(Mmio, &RiffChunk, nullptr, MMIO_FINDRIFF) != 0) {
        return WAVFILE_NOT_WAVE;
    }
    // A file appended to without a fact chunk, or with one too small for the count (writing
    // it would overwrite the next chunk's header), keeps it as it is: nothing failed.
    FactChunk.ckid = kFact;
    if (mmioDescend(Mmio, &FactChunk, &RiffChunk, MMIO_FINDCHUNK) != 0 || FactChunk.cksize < 4) {
        return WAVFILE_OK;
    }
    // The field is unsigned 32-bit: long compressed audio counts beyond 2^31 samples.
    const auto samples = static_cast<uint32_t>(
        std::clamp<int64_t>(SamplesFromBytesWide(DataLength, SamplesPerFrame), 0, UINT32_MAX));
    const char count[4] = {static_cast<char>(samples), static_cast<char>(samples >> 8),
                           static_cast<char>(samples >> 16), static_cast<char>(samples >> 24)};
    if (mmioWrite(Mmio, count, sizeof count) != sizeof count ||
        mmioFlush(Mmio, 0) != MMSYSERR_NOERROR) {
        return WAVFILE_WRITE_FAILED;
    }
    mmioAscend(Mmio, &FactChunk, 0);
    mmioAscend(Mmio, &RiffChunk, 0);
    return WAVFILE_OK;
}
