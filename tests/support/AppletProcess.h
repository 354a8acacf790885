// Runs the built quindle64 as a user would: its own process with chosen arguments and
// display, standard output and error kept in files under <build>/artifacts/, killed if a
// test ends before it does.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "support/TempDir.h"

namespace testsupport {

using namespace std::chrono_literals;

// Under a sanitizer the program starts and ends more slowly: instrumented start-up, and the
// sanitizer's own checks (a leak scan) at exit.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif

// How long ending may take once asked (a signal, a close, the audible end).
inline constexpr auto kEndAllowance = kSanitized ? 1500ms : 200ms;

// Where the program's standard output and error go: files kept as artifacts, or one of the two
// into a pipe whose reading end is already closed (as in `quindle64 /E | true`).
enum class Output { Files, ClosedPipeForOutput, ClosedPipeForError };

inline std::string BinaryDir() {
    const char* dir = std::getenv("QUINDLE_BINARY_DIR");
    return dir != nullptr ? dir : ".";
}

inline std::string ArtifactPath(const std::string& name) {
    const std::string dir = BinaryDir() + "/artifacts";
    mkdir(dir.c_str(), 0755);
    return dir + "/" + name;
}

// One run of the applet with its output in files; killed at the end if still running.
class Applet {
  public:
    Applet(const std::vector<std::string>& arguments, const std::string& display,
           const std::string& tag, Output output = Output::Files)
        : outPath_(ArtifactPath(tag + ".stdout.txt")), errPath_(ArtifactPath(tag + ".stderr.txt")) {
        // env(1) sets the display (none when empty) and starts the program with the words as
        // they are.
        std::vector<std::string> args = {"/usr/bin/env", "-u", "DISPLAY"};
        if (!display.empty()) {
            args.push_back("DISPLAY=" + display);
        }
        // Leak checks (sanitizer builds) leave out the system font library's own caches.
        const char* source = std::getenv("QUINDLE_SOURCE_DIR");
        if (source != nullptr) {
            args.push_back(std::string("LSAN_OPTIONS=suppressions=") + source +
                           "/tests/e2e/lsan-suppressions.txt:print_suppressions=0");
        }
        args.push_back(BinaryDir() + "/apps/play/quindle64");
        args.insert(args.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& text : args) {
            argv.push_back(text.data());
        }
        argv.push_back(nullptr);
        const pid_t parent = getpid();
        pid_ = fork();
        if (pid_ == 0) {
            // The applet must not outlive a test that dies.
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent) {
                _exit(127);
            }
            const int out = open(outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) {
                _exit(127);
            }
            int ends[2];
            if (output != Output::Files &&
                (pipe(ends) != 0 || close(ends[0]) != 0 ||
                 dup2(ends[1], output == Output::ClosedPipeForOutput ? 1 : 2) < 0)) {
                _exit(127);
            }
            execv(argv[0], argv.data());
            _exit(127);
        }
    }
    ~Applet() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    Applet(const Applet&) = delete;
    Applet& operator=(const Applet&) = delete;

    // The exit code, or -1 when the program is still running after the timeout.
    int WaitExit(std::chrono::milliseconds timeout = 5000ms) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (pid_ > 0 && std::chrono::steady_clock::now() < end) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(10ms);
        }
        return -1;
    }
    void Signal(int number) {
        if (pid_ > 0) {
            kill(pid_, number);
        }
    }
    bool Running() { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }
    std::string Out() const { return Text(outPath_); }
    std::string Err() const { return Text(errPath_); }

  private:
    static std::string Text(const std::string& path) {
        const std::vector<uint8_t> bytes = ReadBytes(path);
        return std::string(bytes.begin(), bytes.end());
    }

    std::string outPath_;
    std::string errPath_;
    pid_t pid_ = -1;
};

}  // namespace testsupport
