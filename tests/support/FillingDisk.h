// A disk that fills up: while a FillingDisk lives, no file of this process can grow beyond
// the given length. A write that would cross it writes what fits and fails with EFBIG, the
// way a full disk fails, instead of raising SIGXFSZ. The old limit and signal action come
// back when the object goes. Keep its scope tight: the limit holds for every file the
// process writes, test logs included.
#pragma once

#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace testsupport {

class FillingDisk {
  public:
    explicit FillingDisk(uint64_t bytes) {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        if (::getrlimit(RLIMIT_FSIZE, &saved_) != 0 ||
            ::sigaction(SIGXFSZ, &ignore, &savedAction_) != 0) {
            std::abort();
        }
        rlimit limited = saved_;
        limited.rlim_cur = std::min(static_cast<rlim_t>(bytes), saved_.rlim_max);  // infinity: ~0
        if (::setrlimit(RLIMIT_FSIZE, &limited) != 0) {
            std::abort();
        }
    }
    ~FillingDisk() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        ::sigaction(SIGXFSZ, &savedAction_, nullptr);
    }
    FillingDisk(const FillingDisk&) = delete;
    FillingDisk& operator=(const FillingDisk&) = delete;

  private:
    rlimit saved_{};
    struct sigaction savedAction_ {};
};

}  // namespace testsupport
