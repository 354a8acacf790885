// Runs the built quindle64 as a user would: its own process with chosen arguments and display,
// standard output and error kept in files under <build>/artifacts/, killed if a test ends
// before it does. ScreenTest finds its windows on the test bed's X display (Xvfb without a
// window manager, or the second one with openbox).
#pragma once

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "support/Sanitized.h"
#include "support/TempDir.h"

namespace testsupport {

using namespace std::chrono_literals;

// How long ending may take once asked (a signal, a close, the audible end), on a machine whose
// two cores are busy with other work: "at once" against the 3 s a hang would take. The tight
// figures are the benchmarks'.
inline constexpr auto kEndAllowance = kSanitized ? 1500ms : 700ms;

inline std::string BinaryDir() {
    return std::getenv("QUINDLE_BINARY_DIR") ?: ".";
}

// One run of the applet with its output in files; killed at the end if still running.
class Applet {
  public:
    // `closedPipe` 1 or 2: that output goes into a pipe whose reading end is already closed
    // (as in `quindle64 /E | true`).
    Applet(const std::vector<std::string>& arguments, const std::string& display,
           const std::string& tag, int closedPipe = 0)
        : outPath_(BinaryDir() + "/artifacts/" + tag + ".stdout.txt"),
          errPath_(BinaryDir() + "/artifacts/" + tag + ".stderr.txt") {
        mkdir((BinaryDir() + "/artifacts").c_str(), 0755);
        // env(1) sets the display (none when empty) and starts the program with the words as
        // they are; leak checks (sanitizer builds) leave out the font library's own caches.
        std::vector<std::string> args = {"/usr/bin/env", "-u", "DISPLAY", "DISPLAY=" + display};
        if (display.empty()) {
            args.pop_back();
        }
        if (const char* source = std::getenv("QUINDLE_SOURCE_DIR")) {
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
            prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlives a test that dies
            const int out = open(outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int ends[2];
            if (getppid() != parent || out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
                (closedPipe != 0 &&
                 (pipe(ends) != 0 || close(ends[0]) != 0 || dup2(ends[1], closedPipe) < 0))) {
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
    int WaitExit(std::chrono::milliseconds timeout) {
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

// A test on the test bed's display: mapped top-level windows by title, their geometry and
// frames, and what a window manager sends for the close box.
class ScreenTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Never the user's own display and sound server.
        if (std::getenv("QUINDLE_TESTBED") == nullptr) {
            GTEST_SKIP() << "run inside scripts/testbed.sh";
        }
        ASSERT_TRUE(UseDisplay(std::getenv("DISPLAY"))) << "the test bed has no display";
        // Other programs' windows may vanish between two requests.
        XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    }
    void TearDown() override {
        for (Display* display : opened_) {
            XCloseDisplay(display);
        }
    }

    // Works on that display from here on. Connections stay open until the end of the test:
    // an X server without clients resets and refuses connections for a moment.
    bool UseDisplay(const char* name) {
        if (name == nullptr || name[0] == '\0' || (display_ = XOpenDisplay(name)) == nullptr) {
            return false;
        }
        opened_.push_back(display_);
        displayName_ = name;
        return true;
    }

    // Mapped windows with that title, as xdotool finds them (also inside a window manager's
    // frames).
    std::vector<Window> Windows(const std::string& title) {
        std::vector<Window> found;
        FILE* list = popen(("DISPLAY=" + displayName_ + " xdotool search --onlyvisible --name '^" +
                            title + "$' 2>/dev/null")
                               .c_str(),
                           "r");
        unsigned long id = 0;
        while (list != nullptr && fscanf(list, "%lu", &id) == 1) {
            found.push_back(id);
        }
        if (list != nullptr) {
            pclose(list);
        }
        return found;
    }

    // Waits for a mapped window with that title that was not in `known`.
    Window WaitForNewWindow(const std::string& title, const std::vector<Window>& known) {
        for (int i = 0; i < 150; ++i) {
            for (Window w : Windows(title)) {
                if (std::find(known.begin(), known.end(), w) == known.end()) {
                    std::this_thread::sleep_for(150ms);  // let it draw
                    return w;
                }
            }
            std::this_thread::sleep_for(20ms);
        }
        return 0;
    }

    struct Geometry {
        int x, y, width, height;
    };
    // With `frame`, of the window's ancestor just below the root, borders included.
    Geometry GeometryOf(Window window, bool frame = false) {
        Window root = 0;
        Window parent = 0;
        Window* children = nullptr;
        unsigned count = 0;
        while (frame && XQueryTree(display_, window, &root, &parent, &children, &count) != 0) {
            XFree(children);
            if (parent == root) {
                break;
            }
            window = parent;
        }
        XWindowAttributes attributes{};
        XGetWindowAttributes(display_, window, &attributes);
        if (frame) {
            const int border = 2 * attributes.border_width;
            return {attributes.x, attributes.y, attributes.width + border,
                    attributes.height + border};
        }
        int x = 0;
        int y = 0;
        Window child = 0;
        XTranslateCoordinates(display_, window, DefaultRootWindow(display_), 0, 0, &x, &y, &child);
        return {x, y, attributes.width, attributes.height};
    }

    Display* display_ = nullptr;
    std::string displayName_;
    std::vector<Display*> opened_;
};

}  // namespace testsupport
