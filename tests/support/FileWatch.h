// What other processes do to one file, seen through inotify: how often it was opened, and
// whether anything wrote to it, changed its attributes or opened it for writing. Together
// with a snapshot of its bytes and modification time it shows that a reader left it alone.
#pragma once

#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace testsupport {

class FileWatch {
  public:
    explicit FileWatch(const std::string& path) {
        fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd_ >= 0) {
            inotify_add_watch(
                fd_, path.c_str(),
                IN_OPEN | IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_MOVE_SELF | IN_DELETE_SELF);
        }
    }
    ~FileWatch() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    FileWatch(const FileWatch&) = delete;
    FileWatch& operator=(const FileWatch&) = delete;

    bool Valid() const { return fd_ >= 0; }

    // Takes in every event that has arrived, waiting at most `waitMs` for the first one.
    void Poll(int waitMs = 0) {
        pollfd ready{fd_, POLLIN, 0};
        if (fd_ < 0 || poll(&ready, 1, waitMs) <= 0) {
            return;
        }
        alignas(inotify_event) char buffer[4096];
        for (;;) {
            const ssize_t got = read(fd_, buffer, sizeof buffer);
            if (got <= 0) {
                return;
            }
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if (event->mask & IN_OPEN) {
                    ++opens_;
                }
                if (event->mask &
                    (IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_MOVE_SELF | IN_DELETE_SELF)) {
                    ++changes_;
                }
                if (event->mask & IN_Q_OVERFLOW) {
                    overflowed_ = true;
                }
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
    }

    uint64_t Opens() const { return opens_; }
    // Writes, attribute changes, closes of a writable descriptor, renames and removals.
    uint64_t Changes() const { return changes_; }
    bool Overflowed() const { return overflowed_; }

  private:
    int fd_ = -1;
    uint64_t opens_ = 0;
    uint64_t changes_ = 0;
    bool overflowed_ = false;
};

// A file's bytes and modification time at one moment.
struct FileSnapshot {
    std::vector<uint8_t> bytes;
    timespec modified{};

    static FileSnapshot Of(const std::string& path) {
        FileSnapshot snapshot;
        snapshot.bytes = ReadBytes(path);
        struct stat status {};
        if (stat(path.c_str(), &status) == 0) {
            snapshot.modified = status.st_mtim;
        }
        return snapshot;
    }
    bool operator==(const FileSnapshot& other) const {
        return bytes == other.bytes && modified.tv_sec == other.modified.tv_sec &&
               modified.tv_nsec == other.modified.tv_nsec;
    }
};

}  // namespace testsupport
