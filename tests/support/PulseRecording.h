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
#include <mutex>
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

namespace testsupport {

// Records a sink's monitor through a pipe and notes when each piece arrived, so a test can
// tell when sound stopped in wall-clock time (the monitor runs about 20 ms behind).
class TimedRecorder {
  public:
    using Clock = std::chrono::steady_clock;

    explicit TimedRecorder(const std::string& monitor = "testsink.monitor") {
        int fds[2];
        if (pipe(fds) != 0) {
            return;
        }
        const std::string command = "exec pacat -r -d " + monitor +
                                    " --raw --format=s16le --rate=48000 --channels=2"
                                    " --latency-msec=20";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
        if (posix_spawn(&pid_, "/bin/sh", &actions, nullptr, const_cast<char**>(argv), environ) !=
            0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        fd_ = fds[0];
        reader_ = std::thread([this] { ReadLoop(); });
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
    }
    ~TimedRecorder() { Stop(); }
    TimedRecorder(const TimedRecorder&) = delete;
    TimedRecorder& operator=(const TimedRecorder&) = delete;

    void Stop() {
        if (pid_ > 0) {
            kill(pid_, SIGINT);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
        if (reader_.joinable()) {
            reader_.join();
        }
        if (fd_ >= 0) {
            close(fd_);
            fd_ = -1;
        }
    }

    std::vector<uint8_t> Bytes() {
        std::lock_guard<std::mutex> lock(mutex_);
        return bytes_;
    }

    // When the last frame louder than the threshold arrived; Clock::time_point{} for none.
    Clock::time_point LastSound(int threshold = 300) {
        std::lock_guard<std::mutex> lock(mutex_);
        for (size_t piece = arrivals_.size(); piece-- > 0;) {
            const size_t begin = piece == 0 ? 0 : arrivals_[piece - 1].first;
            for (size_t i = begin; i + 1 < arrivals_[piece].first; i += 2) {
                int16_t v;
                std::memcpy(&v, &bytes_[i], 2);
                if (std::abs(v) > threshold) {
                    return arrivals_[piece].second;
                }
            }
        }
        return Clock::time_point{};
    }

  private:
    void ReadLoop() {
        uint8_t buffer[4096];
        for (;;) {
            const ssize_t got = read(fd_, buffer, sizeof buffer);
            if (got <= 0) {
                return;
            }
            std::lock_guard<std::mutex> lock(mutex_);
            bytes_.insert(bytes_.end(), buffer, buffer + got);
            arrivals_.emplace_back(bytes_.size(), Clock::now());
        }
    }

    pid_t pid_ = -1;
    int fd_ = -1;
    std::thread reader_;
    std::mutex mutex_;
    std::vector<uint8_t> bytes_;
    std::vector<std::pair<size_t, Clock::time_point>> arrivals_;  // end offset, arrival
};

// Runs of sound in a 16-bit stereo recording at 48 kHz: (first frame, frame count), where a
// run ends after `gapFrames` frames of silence.
inline std::vector<std::pair<size_t, size_t>> SoundRuns(const std::vector<uint8_t>& recording,
                                                        size_t gapFrames = 480,
                                                        int threshold = 300) {
    std::vector<std::pair<size_t, size_t>> runs;
    size_t quiet = gapFrames;
    for (size_t frame = 0; frame * 4 + 3 < recording.size(); ++frame) {
        int16_t left, right;
        std::memcpy(&left, &recording[frame * 4], 2);
        std::memcpy(&right, &recording[frame * 4 + 2], 2);
        const bool loud = std::abs(left) > threshold || std::abs(right) > threshold;
        if (loud) {
            if (quiet >= gapFrames) {
                runs.emplace_back(frame, 1);
            } else {
                runs.back().second = frame - runs.back().first + 1;
            }
            quiet = 0;
        } else {
            ++quiet;
        }
    }
    return runs;
}

}  // namespace testsupport
