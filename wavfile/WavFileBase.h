// The file-type family: the eight virtual operations every audio source or sink shares, the
// factory that picks a type by name, the file layer's error codes and the plain-file layer.
#pragma once

#include <cstdint>
#include <memory>

#include <platform/mmio.h>  // the open flags the factory and the types pass
#include <platform/types.h>
#include "wavfile/WavFmt.h"

// FileErrorCode: 0 is success.
enum FileErrorCode : int32_t {
    WAVFILE_OK = 0,
    WAVFILE_UNKNOWN_FAILURE = 1,
    WAVFILE_NO_MEMORY = 2,
    WAVFILE_NOT_WAVE = 3,
    WAVFILE_CORRUPT = 4,
    WAVFILE_NO_FORMAT_CHUNK = 5,
    WAVFILE_NO_DATA_CHUNK = 6,
    WAVFILE_NO_FACT_CHUNK = 7,
    WAVFILE_INVALID_FORMAT = 8,
    WAVFILE_WRITE_FAILED = 9,
    WAVFILE_READ_FAILED = 10,
    WAVFILE_OPEN_FAILED = 11,
    WAVFILE_CREATE_CHUNK_FAILED = 12,
    WAVFILE_CLOSE_FAILED = 13,
    // An append that would damage chunks after the audio is refused with this code; no other
    // operation produces it, so the caller can tell the two apart.
    WAVFILE_APPEND_REFUSED = WAVFILE_INVALID_FORMAT,
};

// Seek origins of the file layer (not the stdio numbering).
constexpr int32_t WAVSEEK_CURRENT = 0;
constexpr int32_t WAVSEEK_END = 1;
constexpr int32_t WAVSEEK_START = 2;

// One open plain file.
struct PlainFile {
    HANDLE Handle;
};

// Plain-file layer. Offsets and sizes are signed 32-bit; positions beyond that are clamped.
PlainFile* PlainFileOpen(const char* name, const char* mode);
int32_t PlainFileClose(PlainFile* file);
int32_t PlainFileRead(void* buffer, int32_t size, int32_t count, PlainFile* file);
int32_t PlainFileWrite(const void* buffer, int32_t size, int32_t count, PlainFile* file);
// origin: 1 = from the current position, 2 = from the end, anything else = from the start.
int32_t PlainFileSeek(PlainFile* file, int32_t offset, int32_t origin);
int32_t PlainFileTell(PlainFile* file);
constexpr int32_t PLAINSEEK_START = 0;
constexpr int32_t PLAINSEEK_CURRENT = 1;
constexpr int32_t PLAINSEEK_END = 2;

class TWavFileBase : public TWavFmt {
  public:
    TWavFileBase(const char* name, const char* mode, int32_t* error);
    virtual ~TWavFileBase();
    TWavFileBase(const TWavFileBase&) = delete;
    TWavFileBase& operator=(const TWavFileBase&) = delete;

    virtual int32_t Open(const char* name, uint32_t flags);
    virtual int32_t Close();
    // 0, or WAVFILE_READ_FAILED when the position cannot be moved there (it stays).
    virtual int32_t Seek(int32_t offset, int32_t origin);
    virtual int32_t Write(const void* data, int32_t count);
    virtual int32_t Read(void* buffer, int32_t count);
    virtual int32_t WriteHeader();
    virtual int32_t ReadHeader(int32_t flag);

    int32_t GetDataLength();
    int32_t GetRemainingBytes();
    // Writes the text of a FileErrorCode into buffer64 (at most 64 bytes with terminator).
    static char* GetErrorText(int32_t code, char* buffer64);

    std::unique_ptr<PlainFile, int32_t (*)(PlainFile*)> File{nullptr, PlainFileClose};
    int32_t DataLength = 0;
    int32_t ReadCount = 0;

  protected:
    // Adds to a signed 32-bit byte count without overflowing: sizes stay at most INT32_MAX.
    static int32_t AddClamped(int32_t total, int32_t count);
};

// Chooses the file type by name, opens it by the first letter of mode and returns it with
// the error code (0 on success). The object is returned whatever the error.
std::unique_ptr<TWavFileBase> CreateWavFile(const char* name, const char* mode, int32_t* error);
// Open flags for the first letter of a mode text: R read, A append, anything else create.
uint32_t OpenFlagsForMode(const char* mode);
