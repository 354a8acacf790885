// One open multimedia file: a system file handle with a single buffer in front of it.
//
// The buffer is either a clean copy of file bytes (after a small read) or a run of written
// bytes not yet in the file (after small writes); never both, so there is no partial
// dirtiness to track. Reads of kBufferSize bytes or more bypass the buffer; writes of that
// size are cut at kBufferSize boundaries of the file, so that the file is written in aligned
// stretches whatever offset its audio starts at.
#pragma once

#include <cstdint>
#include <memory>

#include <platform/types.h>
#include "platform/kernel/KernelObject.h"

namespace platform {

class MmioFile final : public KernelObject {
  public:
    static constexpr int64_t kBufferSize = 64 * 1024;

    MmioFile(HANDLE file, bool writable);
    ~MmioFile() override;

    // Writes out the buffer and closes the file; false when either failed.
    bool Close() override;

    // Bytes transferred at the current position, or -1 with the last error set.
    int64_t Read(void* buffer, int64_t count);
    int64_t Write(const void* data, int64_t count);
    // Moves the position; any position from 0 on is allowed (writing past the end extends
    // the file with zeros, reading there gives 0 bytes).
    bool SeekTo(int64_t position);
    int64_t Position() const { return position_; }
    // The length of the file including bytes still in the buffer, or -1.
    int64_t Size();
    // Writes out the buffered run; with empty also forgets the buffered copy. A run that
    // cannot be written is kept, and fails every later call that needs the buffer.
    bool Flush(bool empty);
    bool Writable() const { return writable_; }

    static MmioFile* FromHandle(HMMIO mmio);
    HMMIO AsMmio() { return static_cast<HMMIO>(AsHandle()); }

  private:
    bool Buffer(const char* data, int64_t count);
    int64_t WriteBlock(const char* data, int64_t count);
    bool FlushRun();
    bool MoveSystemPointer(int64_t position);
    int64_t ReadAt(int64_t position, void* buffer, int64_t count);
    bool WriteAt(int64_t position, const void* data, int64_t count);

    HANDLE file_;
    bool writable_;
    std::unique_ptr<char[]> buffer_;
    int64_t position_ = 0;
    int64_t bufferStart_ = 0;      // file offset of buffer_[0]
    int64_t bufferLength_ = 0;     // bytes of buffer_ in use
    bool bufferDirty_ = false;     // buffer_ holds written bytes that the file lacks
    int64_t systemPosition_ = -1;  // where the handle's file pointer stands, -1 if unknown
};

}  // namespace platform
