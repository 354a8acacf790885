// Helpers shared by the fuzz targets: a scratch file per process, whole-file access, a check
// that aborts (so a broken expectation is reported as a finding), and read sizes taken from
// the input.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

namespace fuzzsupport {

// Aborts with the failed condition: libFuzzer then keeps the input as a crash.
#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)

// A file in /tmp private to this process, removed when the process ends normally. The
// suffix chooses the file type in the factory (".wav", ".daf", ".mp3").
class ScratchFile {
  public:
    explicit ScratchFile(const std::string& suffix) {
        const char* dir = std::getenv("TMPDIR");
        path_ = std::string(dir != nullptr && dir[0] != '\0' ? dir : "/tmp") + "/quindle-fuzz-" +
                std::to_string(::getpid()) + suffix;
    }
    ~ScratchFile() { ::unlink(path_.c_str()); }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    const char* Path() const { return path_.c_str(); }

    void Write(const uint8_t* data, size_t size) const {
        const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        FUZZ_CHECK(fd >= 0);
        size_t done = 0;
        while (done < size) {
            const ssize_t n = ::write(fd, data + done, size - done);
            FUZZ_CHECK(n > 0);
            done += static_cast<size_t>(n);
        }
        ::close(fd);
    }

    std::vector<uint8_t> Read() const {
        std::vector<uint8_t> bytes;
        const int fd = ::open(path_.c_str(), O_RDONLY);
        if (fd < 0) {
            return bytes;
        }
        uint8_t chunk[65536];
        ssize_t n;
        while ((n = ::read(fd, chunk, sizeof chunk)) > 0) {
            bytes.insert(bytes.end(), chunk, chunk + n);
        }
        ::close(fd);
        return bytes;
    }

  private:
    std::string path_;
};

// Sizes for successive reads or writes: taken from the input while it lasts (from its end,
// so the front stays the file's bytes), then a fixed size so a long file is read quickly.
inline int32_t NextSize(FuzzedDataProvider& provider, int32_t maxSize, int32_t fallback) {
    if (provider.remaining_bytes() == 0) {
        return fallback;
    }
    return provider.ConsumeIntegralInRange<int32_t>(0, maxSize);
}

}  // namespace fuzzsupport
