#include "support/HeldReads.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

extern "C" ssize_t __real_read(int fd, void* buffer, size_t count);

namespace testsupport {
namespace {

struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    std::string path;  // empty: no file is watched
    bool held = false;
    int holdFrom = 0;  // while held, reads wait once this many have returned
    int waiting = 0;
    int inside = 0;
    int mostInside = 0;
    int reads = 0;
    int failing = 0;  // reads still to fail
    std::chrono::milliseconds delay{0};
};

Gate& TheGate() {
    static Gate gate;
    return gate;
}

std::string PathOf(int fd) {
    char link[64];
    char target[PATH_MAX];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t length = readlink(link, target, sizeof target - 1);
    return length > 0 ? std::string(target, static_cast<size_t>(length)) : std::string();
}

std::string RealPath(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) != nullptr ? resolved : path;
}

}  // namespace

HeldReads::HeldReads(const std::string& path) {
    Gate& gate = TheGate();
    std::lock_guard<std::mutex> lock(gate.mutex);
    gate.path = RealPath(path);
    gate.held = false;
    gate.reads = gate.mostInside = gate.failing = 0;
    gate.delay = std::chrono::milliseconds(0);
}

HeldReads::~HeldReads() {
    Gate& gate = TheGate();
    std::lock_guard<std::mutex> lock(gate.mutex);
    gate.path.clear();
    gate.held = false;
    gate.changed.notify_all();
}

void HeldReads::Hold(int after) {
    Gate& gate = TheGate();
    std::lock_guard<std::mutex> lock(gate.mutex);
    gate.held = true;
    gate.holdFrom = gate.reads + after;
}

void HeldReads::Release() {
    Gate& gate = TheGate();
    std::lock_guard<std::mutex> lock(gate.mutex);
    gate.held = false;
    gate.changed.notify_all();
}

void HeldReads::FailNext(int count) {
    Gate& gate = TheGate();
    std::lock_guard<std::mutex> lock(gate.mutex);
    gate.failing = count;
}

void HeldReads::SetDelay(std::chrono::milliseconds delay) {
    Gate& gate = TheGate();
    std::lock_guard<std::mutex> lock(gate.mutex);
    gate.delay = delay;
}

bool HeldReads::WaitUntilHeld(std::chrono::milliseconds timeout) {
    Gate& gate = TheGate();
    std::unique_lock<std::mutex> lock(gate.mutex);
    return gate.changed.wait_for(lock, timeout, [&] { return gate.waiting > 0; });
}

int HeldReads::Reads() const {
    Gate& gate = TheGate();
    std::lock_guard<std::mutex> lock(gate.mutex);
    return gate.reads;
}

int HeldReads::MostConcurrentReads() const {
    Gate& gate = TheGate();
    std::lock_guard<std::mutex> lock(gate.mutex);
    return gate.mostInside;
}

}  // namespace testsupport

// Every read(2) of the linked program's own code comes here first.
extern "C" ssize_t __wrap_read(int fd, void* buffer, size_t count) {
    using testsupport::TheGate;
    auto& gate = TheGate();
    {
        std::unique_lock<std::mutex> lock(gate.mutex);
        if (gate.path.empty() || testsupport::PathOf(fd) != gate.path) {
            lock.unlock();
            return __real_read(fd, buffer, count);
        }
        ++gate.inside;
        gate.mostInside = std::max(gate.mostInside, gate.inside);
        if (gate.held && gate.reads >= gate.holdFrom) {
            ++gate.waiting;
            gate.changed.notify_all();
            gate.changed.wait(lock, [&] { return !gate.held; });
            --gate.waiting;
        }
        const auto delay = gate.delay;
        const bool fail = gate.failing > 0;
        gate.failing -= fail ? 1 : 0;
        lock.unlock();
        std::this_thread::sleep_for(delay);
        if (fail) {
            lock.lock();
            --gate.inside;
            ++gate.reads;
            errno = EIO;
            return -1;
        }
    }
    const ssize_t result = __real_read(fd, buffer, count);
    std::lock_guard<std::mutex> lock(gate.mutex);
    --gate.inside;
    ++gate.reads;
    return result;
}
