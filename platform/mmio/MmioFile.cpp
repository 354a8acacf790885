#include "platform/mmio/MmioFile.h"

#include <algorithm>
#include <cstring>

#include <platform/file.h>
#include <platform/kernel.h>

namespace platform {

MmioFile::MmioFile(HANDLE file, bool writable)
    : file_(file), writable_(writable), buffer_(new char[kBufferSize]) {}

MmioFile::~MmioFile() {
    if (file_ != nullptr) {
        Close();
    }
}

bool MmioFile::Close() {
    const bool flushed = FlushRun();
    const bool closed = file_ == nullptr || CloseHandle(file_) != FALSE;
    file_ = nullptr;
    return flushed && closed;
}

MmioFile* MmioFile::FromHandle(HMMIO mmio) {
    auto* file = HandleAs<MmioFile>(static_cast<HANDLE>(mmio));
    if (file == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
    }
    return file;
}

bool MmioFile::MoveSystemPointer(int64_t position) {
    if (systemPosition_ == position) {
        return true;
    }
    LONG high = static_cast<LONG>(static_cast<uint64_t>(position) >> 32);
    SetLastError(ERROR_SUCCESS);
    const DWORD low = SetFilePointer(file_, static_cast<LONG>(static_cast<uint32_t>(position)),
                                     &high, FILE_BEGIN);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS) {
        systemPosition_ = -1;
        return false;
    }
    systemPosition_ = position;
    return true;
}

int64_t MmioFile::ReadAt(int64_t position, void* buffer, int64_t count) {
    DWORD got = 0;
    if (!MoveSystemPointer(position) ||
        !ReadFile(file_, buffer, static_cast<DWORD>(count), &got, nullptr)) {
        systemPosition_ = -1;
        return -1;
    }
    systemPosition_ += got;
    return got;
}

bool MmioFile::WriteAt(int64_t position, const void* data, int64_t count) {
    DWORD put = 0;
    if (!MoveSystemPointer(position) ||
        !WriteFile(file_, data, static_cast<DWORD>(count), &put, nullptr) || put != count) {
        systemPosition_ = -1;
        return false;
    }
    systemPosition_ += put;
    return true;
}

// A run that cannot be written stays in the buffer: every later call that needs the buffer
// (a write elsewhere, a read, a flush, the close) fails as well, instead of the bytes being
// forgotten and the calls after them reporting success. Writing it again puts the same bytes
// at the same offsets, so a retry cannot damage the file.
bool MmioFile::FlushRun() {
    if (!bufferDirty_) {
        return true;
    }
    if (!WriteAt(bufferStart_, buffer_.get(), bufferLength_)) {
        return false;
    }
    bufferDirty_ = false;
    return true;  // the run stays as a clean copy of what the file now holds
}

bool MmioFile::Flush(bool empty) {
    if (!FlushRun()) {
        return false;
    }
    if (empty) {
        bufferLength_ = 0;
    }
    return true;
}

int64_t MmioFile::Read(void* buffer, int64_t count) {
    if (count <= 0) {
        return 0;
    }
    if (!FlushRun()) {
        return -1;
    }
    auto* out = static_cast<char*>(buffer);
    if (count >= kBufferSize) {
        // Block reads go straight to the file, as a plain read would.
        bufferLength_ = 0;
        const int64_t got = ReadAt(position_, out, count);
        if (got > 0) {
            position_ += got;
        }
        return got;
    }
    int64_t total = 0;
    while (total < count) {
        if (position_ >= bufferStart_ && position_ < bufferStart_ + bufferLength_) {
            const int64_t from = position_ - bufferStart_;
            const int64_t n = std::min(count - total, bufferLength_ - from);
            std::memcpy(out + total, buffer_.get() + from, static_cast<size_t>(n));
            total += n;
            position_ += n;
            continue;
        }
        const int64_t got = ReadAt(position_, buffer_.get(), kBufferSize);
        bufferStart_ = position_;
        bufferLength_ = std::max<int64_t>(got, 0);
        if (got < 0) {
            return -1;
        }
        if (got == 0) {
            break;
        }
    }
    return total;
}

int64_t MmioFile::Write(const void* data, int64_t count) {
    if (!writable_) {
        SetLastError(ERROR_ACCESS_DENIED);
        return -1;
    }
    if (count <= 0) {
        return 0;
    }
    if (count >= kBufferSize) {
        return WriteBlock(static_cast<const char*>(data), count);
    }
    if (!Buffer(static_cast<const char*>(data), count)) {
        return -1;
    }
    position_ += count;
    return count;
}

// Adds bytes at the current position to the buffered run, or starts a new run with them.
bool MmioFile::Buffer(const char* data, int64_t count) {
    const int64_t runEnd = bufferStart_ + bufferLength_;
    if (bufferDirty_ && position_ >= bufferStart_ && position_ <= runEnd &&
        position_ + count <= bufferStart_ + kBufferSize) {
        std::memcpy(buffer_.get() + (position_ - bufferStart_), data, static_cast<size_t>(count));
        bufferLength_ = std::max(runEnd, position_ + count) - bufferStart_;
    } else {
        if (!FlushRun()) {
            return false;
        }
        // A clean copy would go stale under the write; the buffer starts a new run instead.
        bufferStart_ = position_;
        bufferLength_ = count;
        bufferDirty_ = true;
        std::memcpy(buffer_.get(), data, static_cast<size_t>(count));
    }
    return true;
}

// A block goes to the file in aligned stretches: the bytes up to the next kBufferSize
// boundary complete the buffered run, whole aligned stretches are written straight from the
// caller's memory, and the rest starts a new run. RIFF audio begins at offsets like 68 or 80;
// written as is, every block would straddle two stretches of the page cache, which measurably
// slows down every later read of the file.
int64_t MmioFile::WriteBlock(const char* data, int64_t count) {
    const int64_t head = (kBufferSize - position_ % kBufferSize) % kBufferSize;
    const int64_t middle = (count - head) / kBufferSize * kBufferSize;
    const int64_t tail = count - head - middle;
    if ((head > 0 && !Buffer(data, head)) || !FlushRun()) {
        return -1;
    }
    bufferLength_ = 0;
    if (!WriteAt(position_ + head, data + head, middle)) {
        return -1;
    }
    position_ += head + middle;
    if (tail > 0 && !Buffer(data + head + middle, tail)) {
        return -1;
    }
    position_ += tail;
    return count;
}

bool MmioFile::SeekTo(int64_t position) {
    if (position < 0) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return false;
    }
    position_ = position;
    return true;
}

int64_t MmioFile::Size() {
    LONG high = 0;
    SetLastError(ERROR_SUCCESS);
    const DWORD low = SetFilePointer(file_, 0, &high, FILE_END);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS) {
        systemPosition_ = -1;
        return -1;
    }
    const int64_t size =
        static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32) | low);
    systemPosition_ = size;
    return bufferDirty_ ? std::max(size, bufferStart_ + bufferLength_) : size;
}

}  // namespace platform
