#include "support/HeldReads.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>

extern "C" ssize_t __real_read(int fd, void* buffer, size_t count);

// Every read(2) of the linked program's own code comes here first.
extern "C" ssize_t __wrap_read(int fd, void* buffer, size_t count) {
    auto& gate = testsupport::ReadGate::Get();
    char link[64], target[PATH_MAX];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    std::unique_lock<std::mutex> lock(gate.mutex);
    const ssize_t length = gate.path.empty() ? 0 : readlink(link, target, sizeof target);
    if (length <= 0 || gate.path != std::string(target, static_cast<size_t>(length))) {
        lock.unlock();
        return __real_read(fd, buffer, count);
    }
    if (gate.held && gate.reads >= gate.holdFrom) {
        ++gate.waiting;
        gate.changed.notify_all();
        gate.changed.wait(lock, [&] { return !gate.held; });
        --gate.waiting;
    }
    const bool fail = gate.failing > 0;
    gate.failing -= fail ? 1 : 0;
    lock.unlock();
    const ssize_t result = fail ? -1 : __real_read(fd, buffer, count);
    const int error = errno;
    lock.lock();
    ++gate.reads;
    errno = fail ? EIO : error;
    return result;
}
