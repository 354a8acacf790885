// Recording the test bed's sink: pacat on "testsink.monitor" (16-bit stereo, 48 kHz) through a
// pipe while the test plays, noting when each piece arrived, so that a test can find the played
// audio in it and tell when sound stopped in wall-clock time (the monitor runs about 20 ms
// behind).
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace testsupport {

class Recorder {
  public:
    using Clock = std::chrono::steady_clock;

    Recorder() {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) {
            return;
        }
        const char* argv[] = {
            "pacat",          "-r",           "-d",           "testsink.monitor",  "--raw",
            "--format=s16le", "--rate=48000", "--channels=2", "--latency-msec=20", nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        if (posix_spawnp(&pid_, "pacat", &actions, nullptr, const_cast<char**>(argv), environ) !=
            0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        fd_ = fds[0];
        reader_ = std::thread([this] {
            uint8_t buffer[4096];  // 16-bit samples: pacat writes whole ones
            ssize_t got;
            while ((got = read(fd_, buffer, sizeof buffer)) > 0) {
                std::lock_guard<std::mutex> lock(mutex_);
                bytes_.insert(bytes_.end(), buffer, buffer + got);
                for (ssize_t i = 0; i + 1 < got; i += 2) {
                    if (std::abs(static_cast<int16_t>(buffer[i] | buffer[i + 1] << 8)) > 300) {
                        lastSound_ = Clock::now();
                        break;
                    }
                }
            }
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(400));  // recording before play
    }
    ~Recorder() { Stop(); }
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    std::vector<uint8_t> Stop() {
        if (pid_ > 0) {
            kill(pid_, SIGINT);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
        if (reader_.joinable()) {
            reader_.join();
            close(fd_);
        }
        return Bytes();
    }

    std::vector<uint8_t> Bytes() {
        std::lock_guard<std::mutex> lock(mutex_);
        return bytes_;
    }

    // When the last piece with a sample over -40 dBFS arrived (Clock::time_point{}: none).
    Clock::time_point LastSound() {
        std::lock_guard<std::mutex> lock(mutex_);
        return lastSound_;
    }

  private:
    pid_t pid_ = -1;
    int fd_ = -1;
    std::thread reader_;
    std::mutex mutex_;
    std::vector<uint8_t> bytes_;
    Clock::time_point lastSound_{};
};

// Where the played bytes begin in the recording (matched on their first 64 bytes), or npos.
inline size_t FindAudio(const std::vector<uint8_t>& recording, const std::vector<uint8_t>& audio) {
    const size_t probe = std::min<size_t>(64, audio.size());
    auto at = std::search(recording.begin(), recording.end(), audio.begin(),
                          audio.begin() + static_cast<ptrdiff_t>(probe));
    return at == recording.end() ? std::string::npos : static_cast<size_t>(at - recording.begin());
}

}  // namespace testsupport
