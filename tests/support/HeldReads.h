// Reads of one file that the test controls, as from a network share or a sleeping disk: each
// read(2) of that file can be held at a gate until the test releases it, or made to fail. The
// program opens and reads the file through its real layers; only the system call waits. Link
// HeldReads.cpp and -Wl,--wrap=read into the test program.
#pragma once

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>

namespace testsupport {

struct ReadGate {
    std::mutex mutex;
    std::condition_variable changed;
    std::string path;  // empty: no file is watched
    bool held = false;
    int holdFrom = 0;  // while held, reads wait once this many have returned
    int waiting = 0, reads = 0;
    int failing = 0;  // reads still to fail with EIO

    static ReadGate& Get() {
        static ReadGate gate;
        return gate;
    }
};

class HeldReads {
  public:
    explicit HeldReads(const std::string& path) {
        Set([&](ReadGate& g) {
            g.path = std::filesystem::weakly_canonical(path).string();  // as /proc shows it
            g.held = false;
            g.reads = g.failing = 0;
        });
    }
    // Opens the gate for good.
    ~HeldReads() {
        Set([](ReadGate& g) {
            g.path.clear();
            g.held = false;
        });
    }
    HeldReads(const HeldReads&) = delete;
    HeldReads& operator=(const HeldReads&) = delete;

    // From the given number of further reads on, reads of the file wait at the gate...
    void Hold(int after = 0) {
        Set([&](ReadGate& g) {
            g.held = true;
            g.holdFrom = g.reads + after;
        });
    }
    void Release() {
        Set([](ReadGate& g) { g.held = false; });
    }  // ...until this
    // The next `count` reads of the file fail with EIO, as on a flaky share.
    void FailNext(int count) {
        Set([&](ReadGate& g) { g.failing = count; });
    }
    // Waits until a reader waits at the gate; false on timeout.
    bool WaitUntilHeld(std::chrono::milliseconds timeout) {
        ReadGate& gate = ReadGate::Get();
        std::unique_lock<std::mutex> lock(gate.mutex);
        return gate.changed.wait_for(lock, timeout, [&] { return gate.waiting > 0; });
    }
    // Reads of the file that have returned.
    int Reads() const { return Get(&ReadGate::reads); }

  private:
    template <typename Change>
    static void Set(Change change) {
        ReadGate& gate = ReadGate::Get();
        std::lock_guard<std::mutex> lock(gate.mutex);
        change(gate);
        gate.changed.notify_all();
    }
    static int Get(int ReadGate::*field) {
        ReadGate& gate = ReadGate::Get();
        std::lock_guard<std::mutex> lock(gate.mutex);
        return gate.*field;
    }
};

}  // namespace testsupport
