// Reads of one file that the test controls, as from a network share or a sleeping disk: each
// read(2) of that file can be held at a gate until the test releases it, slowed down, or
// made to fail.
// The program opens and reads the file through its real layers; only the system call waits.
// Link HeldReads.cpp with -Wl,--wrap=read (the `held_reads` library does both).
#pragma once

#include <chrono>
#include <string>

namespace testsupport {

class HeldReads {
  public:
    explicit HeldReads(const std::string& path);  // one at a time
    ~HeldReads();                                 // opens the gate for good
    HeldReads(const HeldReads&) = delete;
    HeldReads& operator=(const HeldReads&) = delete;

    // From the given number of further reads on, reads of the file wait at the gate...
    void Hold(int after = 0);
    void Release();  // ...until this
    // The next `count` reads of the file fail with EIO, as on a flaky share.
    void FailNext(int count);
    // Every read of the file takes at least this long.
    void SetDelay(std::chrono::milliseconds delay);
    // Waits until a reader waits at the gate; false on timeout.
    bool WaitUntilHeld(std::chrono::milliseconds timeout);
    int Reads() const;               // reads of the file that have returned
    int MostConcurrentReads() const;  // most threads inside a read of the file at once
};

}  // namespace testsupport
