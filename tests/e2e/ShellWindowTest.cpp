// The applet on a real X display (the test bed's Xvfb, which runs no window manager): where
// the status window goes, its client size, the device list dialog and the usage box, and the
// same program without a display. Screenshots are kept under <build>/artifacts/.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using namespace std::chrono_literals;

std::string BinaryDir() {
    const char* dir = std::getenv("QUINDLE_BINARY_DIR");
    return dir != nullptr ? dir : ".";
}

std::string Program() {
    return BinaryDir() + "/apps/play/quindle64";
}

std::string ArtifactPath(const std::string& name) {
    const std::string dir = BinaryDir() + "/artifacts";
    mkdir(dir.c_str(), 0755);
    return dir + "/" + name;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// One run of the applet with its output in files; killed at the end if still running.
class Applet {
  public:
    Applet(const std::vector<std::string>& arguments, const std::string& display,
           const std::string& tag) {
        outPath_ = ArtifactPath(tag + ".stdout.txt");
        errPath_ = ArtifactPath(tag + ".stderr.txt");
        std::vector<std::string> env;
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string entry = *e;
            if (entry.rfind("DISPLAY=", 0) != 0 && entry.rfind("LSAN_OPTIONS=", 0) != 0) {
                env.push_back(entry);
            }
        }
        env.push_back("DISPLAY=" + display);
        // Leak checks (sanitizer builds) leave out the system font library's own caches.
        const char* source = std::getenv("QUINDLE_SOURCE_DIR");
        if (source != nullptr) {
            env.push_back(std::string("LSAN_OPTIONS=suppressions=") + source +
                          "/tests/e2e/lsan-suppressions.txt:print_suppressions=0");
        }
        std::vector<char*> envp;
        for (std::string& e : env) {
            envp.push_back(e.data());
        }
        envp.push_back(nullptr);
        std::vector<std::string> args = {Program()};
        args.insert(args.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& a : args) {
            argv.push_back(a.data());
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
            execve(argv[0], argv.data(), envp.data());
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
        while (pid_ > 0) {
            int status = 0;
            const pid_t done = waitpid(pid_, &status, WNOHANG);
            if (done == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            if (std::chrono::steady_clock::now() > end) {
                return -1;
            }
            std::this_thread::sleep_for(10ms);
        }
        return -1;
    }
    bool Running() { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }
    std::string Out() const { return ReadFile(outPath_); }
    std::string Err() const { return ReadFile(errPath_); }

  private:
    pid_t pid_ = -1;
    std::string outPath_;
    std::string errPath_;
};

class ShellOnScreen : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* name = std::getenv("DISPLAY");
        if (name == nullptr || name[0] == '\0' || (display_ = XOpenDisplay(name)) == nullptr) {
            GTEST_SKIP() << "no X display (run inside scripts/testbed.sh)";
        }
        displayName_ = name;
        // Other programs' windows may vanish between two requests.
        XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    }
    void TearDown() override {
        if (display_ != nullptr) {
            XCloseDisplay(display_);
        }
    }

    // Top-level windows whose WM_CLASS class or name matches, mapped ones only when asked.
    std::vector<Window> Windows(const char* className, const char* title, bool mappedOnly) {
        std::vector<Window> found;
        Window root = 0;
        Window parent = 0;
        Window* children = nullptr;
        unsigned count = 0;
        XSync(display_, False);
        if (XQueryTree(display_, DefaultRootWindow(display_), &root, &parent, &children, &count) ==
            0) {
            return found;
        }
        for (unsigned i = 0; i < count; ++i) {
            XWindowAttributes attributes{};
            if (XGetWindowAttributes(display_, children[i], &attributes) == 0 ||
                (mappedOnly && attributes.map_state != IsViewable)) {
                continue;
            }
            bool match = true;
            if (className != nullptr) {
                XClassHint hint{};
                match = XGetClassHint(display_, children[i], &hint) != 0 &&
                        std::string(hint.res_class) == className;
                if (hint.res_name != nullptr) {
                    XFree(hint.res_name);
                }
                if (hint.res_class != nullptr) {
                    XFree(hint.res_class);
                }
            }
            if (match && title != nullptr) {
                char* name = nullptr;
                match = XFetchName(display_, children[i], &name) != 0 && name != nullptr &&
                        std::string(name) == title;
                if (name != nullptr) {
                    XFree(name);
                }
            }
            if (match) {
                found.push_back(children[i]);
            }
        }
        if (children != nullptr) {
            XFree(children);
        }
        return found;
    }

    // Waits for a mapped window that was not in `known`.
    Window WaitForNewWindow(const char* className, const char* title, const std::set<Window>& known,
                            bool mappedOnly = true) {
        const auto end = std::chrono::steady_clock::now() + 5s;
        while (std::chrono::steady_clock::now() < end) {
            for (Window w : Windows(className, title, mappedOnly)) {
                if (known.count(w) == 0) {
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
    Geometry GeometryOf(Window window) {
        XWindowAttributes attributes{};
        XGetWindowAttributes(display_, window, &attributes);
        int x = 0;
        int y = 0;
        Window child = 0;
        XTranslateCoordinates(display_, window, DefaultRootWindow(display_), 0, 0, &x, &y, &child);
        return {x, y, attributes.width, attributes.height};
    }

    // What a window manager sends when the close box is clicked.
    void ClickCloseBox(Window window) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] =
            static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(display_, window, False, NoEventMask, &event);
        XFlush(display_);
    }

    void Screenshot(const std::string& name) {
        const std::string path = ArtifactPath(name);
        const std::string command = "import -window root '" + path + "' 2>/dev/null";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
    }

    void Key(const char* key) {
        const std::string command = std::string("xdotool key ") + key;
        EXPECT_EQ(std::system(command.c_str()), 0);
    }

    void Click(int x, int y) {
        const std::string command =
            "xdotool mousemove " + std::to_string(x) + " " + std::to_string(y) + " click 1";
        EXPECT_EQ(std::system(command.c_str()), 0);
    }

    Display* display_ = nullptr;
    std::string displayName_;
};

constexpr const char* kClass = "QUINDLE";
constexpr const char* kTitle = "Quindle64.exe Version 1.14";

TEST_F(ShellOnScreen, StatusWindowsStandBesideARunningInstanceWithAClientOf240By80) {
    ASSERT_TRUE(Windows(kClass, nullptr, false).empty()) << "another instance is running";
    Applet first({"first.wav"}, displayName_, "placement-first");
    const Window a = WaitForNewWindow(kClass, kTitle, {});
    ASSERT_NE(a, 0u) << first.Err();
    Geometry g = GeometryOf(a);
    EXPECT_EQ(g.x, 0);
    EXPECT_EQ(g.y, 0);
    EXPECT_EQ(g.width, 240);
    EXPECT_EQ(g.height, 80);

    // The window's icon is the program's 32 x 32 picture: a navy tile, transparent corners.
    Atom type = 0;
    int format = 0;
    unsigned long items = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    ASSERT_EQ(XGetWindowProperty(display_, a, XInternAtom(display_, "_NET_WM_ICON", False), 0, 4096,
                                 False, AnyPropertyType, &type, &format, &items, &after, &data),
              Success);
    ASSERT_NE(data, nullptr);
    const auto* icon = reinterpret_cast<const unsigned long*>(data);
    ASSERT_EQ(items, 2u + 32 * 32);
    EXPECT_EQ(icon[0], 32u);
    EXPECT_EQ(icon[1], 32u);
    EXPECT_EQ(icon[2 + 0] >> 24, 0u);                            // corner: transparent
    EXPECT_EQ(icon[2 + 3 * 32 + 3] & 0xFFFFFFFFu, 0xFF000080u);  // opaque navy
    XFree(data);

    {
        Applet second({"second.wav"}, displayName_, "placement-second");
        const Window b = WaitForNewWindow(kClass, kTitle, {a});
        ASSERT_NE(b, 0u) << second.Err();
        g = GeometryOf(b);
        EXPECT_EQ(g.x, 25);
        EXPECT_EQ(g.y, 25);
        EXPECT_EQ(g.width, 240);
        EXPECT_EQ(g.height, 80);
        Screenshot("status-windows.png");
        ClickCloseBox(b);
        EXPECT_EQ(second.WaitExit(), 0);
    }

    // A neighbour within 25 pixels of the right edge sends the next one to the corner.
    const int screenWidth = DisplayWidth(display_, DefaultScreen(display_));
    XMoveWindow(display_, a, screenWidth - 240 - 10, 300);
    XSync(display_, False);
    std::this_thread::sleep_for(100ms);
    Applet third({"third.wav"}, displayName_, "placement-third");
    const Window c = WaitForNewWindow(kClass, kTitle, {a});
    ASSERT_NE(c, 0u) << third.Err();
    g = GeometryOf(c);
    EXPECT_EQ(g.x, 0);
    EXPECT_EQ(g.y, 0);

    ClickCloseBox(c);
    EXPECT_EQ(third.WaitExit(), 0);
    ClickCloseBox(a);
    EXPECT_EQ(first.WaitExit(), 0);
}

TEST_F(ShellOnScreen, AHiddenInstanceIsFoundToo) {
    ASSERT_TRUE(Windows(kClass, nullptr, false).empty()) << "another instance is running";
    Applet hidden({"/H", "hidden.wav"}, displayName_, "hidden-first");
    const Window standIn = WaitForNewWindow(kClass, nullptr, {}, false);
    ASSERT_NE(standIn, 0u) << hidden.Err();
    EXPECT_TRUE(Windows(kClass, nullptr, true).empty()) << "the /H window must stay unmapped";

    Applet shown({"shown.wav"}, displayName_, "hidden-second");
    const Window b = WaitForNewWindow(kClass, kTitle, {standIn});
    ASSERT_NE(b, 0u) << shown.Err();
    const Geometry g = GeometryOf(b);
    EXPECT_EQ(g.x, 25);
    EXPECT_EQ(g.y, 25);
    EXPECT_EQ(g.width, 240);
    EXPECT_EQ(g.height, 80);
    ClickCloseBox(b);
    EXPECT_EQ(shown.WaitExit(), 0);
    EXPECT_TRUE(hidden.Running());
}

TEST_F(ShellOnScreen, DeviceListIgnoresEscapeAndClosesWithEnterOkAndTheCloseBox) {
    enum class Close { Enter, OkButton, CloseBox };
    for (Close how : {Close::Enter, Close::OkButton, Close::CloseBox}) {
        SCOPED_TRACE(static_cast<int>(how));
        const std::vector<Window> before = Windows(nullptr, "Dialog", false);
        Applet list({"/E", "/X", "ignored"}, displayName_, "device-list");
        const Window dialog =
            WaitForNewWindow(nullptr, "Dialog", std::set<Window>(before.begin(), before.end()));
        ASSERT_NE(dialog, 0u) << list.Err();
        const Geometry g = GeometryOf(dialog);
        // 309 x 253 dialog units with the 6 x 13 base units of the dialog font.
        EXPECT_EQ(g.width, 464);
        EXPECT_EQ(g.height, 411);
        if (how == Close::Enter) {
            Screenshot("device-list.png");
        }
        Key("Escape");
        std::this_thread::sleep_for(300ms);
        ASSERT_TRUE(list.Running()) << "Escape must not close the device list";
        switch (how) {
            case Close::Enter:
                Key("Return");
                break;
            case Close::OkButton:  // OK at (252, 232) size 50 x 14 dialog units
                Click(g.x + 378 + 37, g.y + 377 + 11);
                break;
            case Close::CloseBox:
                ClickCloseBox(dialog);
                break;
        }
        EXPECT_EQ(list.WaitExit(), 0);
        EXPECT_EQ(list.Out(), "");
        EXPECT_EQ(list.Err(), "");
    }
}

TEST_F(ShellOnScreen, UsageBoxShowsTheMessageUntilOk) {
    const std::vector<Window> before = Windows(nullptr, kTitle, false);
    Applet usage({"/X:1", "/Y"}, displayName_, "usage");
    const Window box =
        WaitForNewWindow(nullptr, kTitle, std::set<Window>(before.begin(), before.end()));
    ASSERT_NE(box, 0u) << usage.Err();
    const Geometry g = GeometryOf(box);
    EXPECT_GT(g.width, 500);  // the longest usage line fits without wrapping
    EXPECT_GT(g.height, 200);
    Screenshot("usage-box.png");
    Key("Escape");  // a box with only OK closes with Escape as well
    EXPECT_EQ(usage.WaitExit(), 0);
    EXPECT_EQ(usage.Err(), "");
}

// Without a display nothing waits for a click: texts go to the terminal.
TEST(ShellWithoutScreen, UsageToStandardErrorDeviceListToStandardOutput) {
    for (const char* display : {"", ":250"}) {
        SCOPED_TRACE(display);
        Applet usage({"/Q"}, display, "headless-usage");
        EXPECT_EQ(usage.WaitExit(), 0);
        const std::string err = usage.Err();
        EXPECT_EQ(err.rfind("Quindle64.exe Version 1.14: Missing required parameter: <filename>.\n"
                            "Unknown option /Q\n\nusage:\tQuindle64.exe [<options>] <filename>\n",
                            0),
                  0u)
            << err;
        EXPECT_EQ(usage.Out(), "");

        Applet list({"/E"}, display, "headless-list");
        EXPECT_EQ(list.WaitExit(), 0);
        const std::string out = list.Out();
        EXPECT_EQ(out.rfind("Device list:\n0 - \"", 0), 0u) << out;
        EXPECT_NE(out.find("\"Null Output\"\n"), std::string::npos) << out;
        EXPECT_EQ(out.find('\r'), std::string::npos);
        EXPECT_EQ(list.Err(), "");
    }
}

}  // namespace
