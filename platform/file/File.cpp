// CreateFileA family on POSIX descriptors. Files are always shared (Linux has no mandatory
// sharing modes), offsets are 64-bit underneath and clamped to what the 32-bit calls return.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include <platform/file.h>
#include "platform/kernel/KernelObject.h"
#include "platform/kernel/SystemError.h"

namespace platform {
namespace {

class FileObject final : public KernelObject {
  public:
    explicit FileObject(int fd) : fd_(fd) {}
    ~FileObject() override {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    bool Close() override {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }
    int fd() const { return fd_; }

  private:
    int fd_;
};

FileObject* FileFromHandle(HANDLE handle) {
    auto* file = HandleAs<FileObject>(handle);
    if (file == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
    }
    return file;
}

}  // namespace
}  // namespace platform

using platform::FileFromHandle;
using platform::SetLastSystemError;

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD /*shareMode*/,
                   SECURITY_ATTRIBUTES* /*security*/, DWORD creation, DWORD /*flagsAndAttributes*/,
                   HANDLE /*templateFile*/) {
    if (name == nullptr || name[0] == '\0') {
        SetLastSystemError(ENOENT);  // as open("") says
        return INVALID_HANDLE_VALUE;
    }
    int flags = O_CLOEXEC;
    const bool read = (access & GENERIC_READ) != 0;
    const bool write = (access & GENERIC_WRITE) != 0;
    flags |= write ? (read ? O_RDWR : O_WRONLY) : O_RDONLY;
    switch (creation) {
        case CREATE_NEW:
            flags |= O_CREAT | O_EXCL;
            break;
        case CREATE_ALWAYS:
            flags |= O_CREAT | O_TRUNC;
            break;
        case OPEN_EXISTING:
            break;
        case OPEN_ALWAYS:
            flags |= O_CREAT;
            break;
        case TRUNCATE_EXISTING:
            flags |= O_TRUNC;
            break;
        default:
            SetLastError(ERROR_INVALID_PARAMETER);
            return INVALID_HANDLE_VALUE;
    }
    int fd;
    do {
        fd = ::open(name, flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        SetLastSystemError(errno);
        return INVALID_HANDLE_VALUE;
    }
    // A directory opens read-only on Linux but is no file for our purposes.
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        ::close(fd);
        SetLastSystemError(EISDIR);
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_SUCCESS);
    return (new platform::FileObject(fd))->AsHandle();
}

BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, DWORD* read, void* /*overlapped*/) {
    if (read != nullptr) {
        *read = 0;
    }
    platform::FileObject* file = FileFromHandle(handle);
    if (file == nullptr) {
        return FALSE;
    }
    if (buffer == nullptr && toRead != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD total = 0;
    auto* bytes = static_cast<char*>(buffer);
    while (total < toRead) {
        const ssize_t got = ::read(file->fd(), bytes + total, toRead - total);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            SetLastSystemError(errno);
            return FALSE;
        }
        if (got == 0) {
            break;  // end of file: a short read is a success
        }
        total += static_cast<DWORD>(got);
    }
    if (read != nullptr) {
        *read = total;
    }
    return TRUE;
}

BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, DWORD* written, void* /*overlapped*/) {
    if (written != nullptr) {
        *written = 0;
    }
    platform::FileObject* file = FileFromHandle(handle);
    if (file == nullptr) {
        return FALSE;
    }
    if (buffer == nullptr && toWrite != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD total = 0;
    const auto* bytes = static_cast<const char*>(buffer);
    while (total < toWrite) {
        const ssize_t put = ::write(file->fd(), bytes + total, toWrite - total);
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (written != nullptr) {
                *written = total;
            }
            SetLastSystemError(errno);
            return FALSE;
        }
        total += static_cast<DWORD>(put);
    }
    if (written != nullptr) {
        *written = total;
    }
    return TRUE;
}

DWORD SetFilePointer(HANDLE handle, LONG distance, LONG* distanceHigh, DWORD method) {
    platform::FileObject* file = FileFromHandle(handle);
    if (file == nullptr) {
        return INVALID_SET_FILE_POINTER;
    }
    int whence;
    switch (method) {
        case FILE_BEGIN:
            whence = SEEK_SET;
            break;
        case FILE_CURRENT:
            whence = SEEK_CUR;
            break;
        case FILE_END:
            whence = SEEK_END;
            break;
        default:
            SetLastError(ERROR_INVALID_PARAMETER);
            return INVALID_SET_FILE_POINTER;
    }
    off_t offset = distance;
    if (distanceHigh != nullptr) {
        offset =
            static_cast<off_t>((static_cast<uint64_t>(static_cast<uint32_t>(*distanceHigh)) << 32) |
                               static_cast<uint32_t>(distance));
    }
    const off_t position = ::lseek(file->fd(), offset, whence);
    if (position < 0) {
        if (errno == EINVAL) {
            SetLastError(ERROR_NEGATIVE_SEEK);
        } else {
            SetLastSystemError(errno);
        }
        return INVALID_SET_FILE_POINTER;
    }
    if (distanceHigh != nullptr) {
        *distanceHigh = static_cast<LONG>(static_cast<uint64_t>(position) >> 32);
    }
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(static_cast<uint64_t>(position) & 0xFFFFFFFFu);
}
