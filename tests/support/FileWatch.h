// What other processes do to one file, seen through inotify: how often it was opened, and
// whether anything wrote to it, changed its attributes (a touched modification time), closed a
// writable descriptor of it, renamed or removed it. A reader leaves it at no change at all.
#pragma once

#include <sys/inotify.h>
#include <unistd.h>

#include <string>

namespace testsupport {

class FileWatch {
  public:
    explicit FileWatch(const std::string& path) : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        inotify_add_watch(
            fd_, path.c_str(),
            IN_OPEN | IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_MOVE_SELF | IN_DELETE_SELF);
    }
    ~FileWatch() { close(fd_); }
    FileWatch(const FileWatch&) = delete;
    FileWatch& operator=(const FileWatch&) = delete;

    // Takes in the events so far (they are queued as they happen).
    void Poll() {
        alignas(inotify_event) char buffer[4096];
        ssize_t got;
        while ((got = read(fd_, buffer, sizeof buffer)) > 0) {
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                opens_ += (event->mask & IN_OPEN) != 0;
                changes_ += (event->mask & ~IN_OPEN) != 0;
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
    }

    int Opens() const { return opens_; }
    // Every other event, a lost one (queue overflow) included.
    int Changes() const { return changes_; }

  private:
    int fd_;
    int opens_ = 0;
    int changes_ = 0;
};

}  // namespace testsupport
