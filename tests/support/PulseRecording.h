// Recording the test bed's sink: pacat on "testsink.monitor" (16-bit stereo, 48 kHz) into a
// file while the test plays, and finding the played audio in it.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "support/TempDir.h"

extern char** environ;

namespace testsupport {

class Recorder {
  public:
    explicit Recorder(const std::string& path) : path_(path) {
        const std::string command =
            "exec pacat -r -d testsink.monitor --raw --format=s16le "
            "--rate=48000 --channels=2 --latency-msec=20 > " +
            path;
        const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
        if (posix_spawn(&pid_, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) !=
            0) {
            pid_ = -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(400));  // recording before play
    }
    ~Recorder() { Stop(); }
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    std::vector<uint8_t> Stop() {
        if (pid_ > 0) {
            kill(pid_, SIGINT);
            int status = 0;
            waitpid(pid_, &status, 0);
            pid_ = -1;
        }
        return ReadBytes(path_);
    }

  private:
    std::string path_;
    pid_t pid_ = -1;
};

// Where the played bytes begin in the recording (matched on their first 64 bytes), or npos.
inline size_t FindAudio(const std::vector<uint8_t>& recording, const std::vector<uint8_t>& audio) {
    const size_t probe = std::min<size_t>(64, audio.size());
    auto at = std::search(recording.begin(), recording.end(), audio.begin(),
                          audio.begin() + static_cast<ptrdiff_t>(probe));
    return at == recording.end() ? std::string::npos : static_cast<size_t>(at - recording.begin());
}

// The recording without its leading and trailing silence (16-bit stereo frames).
inline std::vector<uint8_t> Audible(const std::vector<uint8_t>& recording) {
    size_t first = recording.size(), last = 0;
    for (size_t i = 0; i + 1 < recording.size(); i += 2) {
        int16_t v;
        std::memcpy(&v, &recording[i], 2);
        if (std::abs(v) > 300) {
            first = std::min(first, i);
            last = i;
        }
    }
    if (first >= last) {
        return {};
    }
    first -= first % 4;
    return std::vector<uint8_t>(recording.begin() + static_cast<ptrdiff_t>(first),
                                recording.begin() + static_cast<ptrdiff_t>(last - last % 4 + 4));
}

}  // namespace testsupport
