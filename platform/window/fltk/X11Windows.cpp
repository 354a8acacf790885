#include "platform/window/fltk/X11Windows.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <string>

namespace platform::x11 {
namespace {

// Windows of other programs may vanish between two requests: their errors are expected.
class ErrorTrap {
  public:
    explicit ErrorTrap(::Display* display) : display_(display) {
        XSync(display_, False);
        previous_ = XSetErrorHandler(Ignore);
    }
    ~ErrorTrap() {
        XSync(display_, False);
        XSetErrorHandler(previous_);
    }
    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;

  private:
    static int Ignore(::Display*, XErrorEvent*) { return 0; }
    ::Display* display_;
    XErrorHandler previous_;
};

// The registered window class travels in a property of its own: WM_CLASS names the program
// for the desktop (its launcher, task bar and icon theme), and one program has several classes.
constexpr const char* kWindowClassProperty = "_WIN32_WINDOW_CLASS";

bool Matches(::Display* display, ::Window window, const char* className, const char* title) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* value = nullptr;
    if (XGetWindowProperty(display, window, XInternAtom(display, kWindowClassProperty, False), 0,
                           256, False, XA_STRING, &type, &format, &count, &after,
                           &value) != Success ||
        value == nullptr) {
        return false;
    }
    const bool sameClass = format == 8 && std::strlen(className) == count &&
                           std::memcmp(value, className, count) == 0;
    XFree(value);
    if (!sameClass || title == nullptr) {
        return sameClass;
    }
    char* name = nullptr;
    bool sameTitle = false;
    if (XFetchName(display, window, &name) != 0 && name != nullptr) {
        sameTitle = std::strcmp(name, title) == 0;
        XFree(name);
    }
    return sameTitle;
}

// Children bottom to top, as the server stacks them.
std::basic_string<::Window> ChildrenOf(::Display* display, ::Window window, ::Window* parent) {
    ::Window root = 0;
    ::Window up = 0;
    ::Window* children = nullptr;
    unsigned int count = 0;
    std::basic_string<::Window> list;
    if (XQueryTree(display, window, &root, &up, &children, &count) != 0) {
        list.assign(children, children + count);
        if (children != nullptr) {
            XFree(children);
        }
    }
    if (parent != nullptr) {
        *parent = up;
    }
    return list;
}

::Window FrameOf(::Display* display, ::Window window) {
    const ::Window root = DefaultRootWindow(display);
    ::Window current = window;
    for (int depth = 0; depth < 16; ++depth) {
        ::Window parent = 0;
        ChildrenOf(display, current, &parent);
        if (parent == 0 || parent == root) {
            return current;
        }
        current = parent;
    }
    return current;
}

}  // namespace

::Window CreateStandIn(::Display* display, const char* className, const char* title,
                       const RECT& rect) {
    XSetWindowAttributes attributes{};
    attributes.override_redirect = False;
    const ::Window window =
        XCreateWindow(display, DefaultRootWindow(display), rect.left, rect.top,
                      static_cast<unsigned>(rect.right > rect.left ? rect.right - rect.left : 1),
                      static_cast<unsigned>(rect.bottom > rect.top ? rect.bottom - rect.top : 1), 0,
                      0, InputOnly, CopyFromParent, 0, &attributes);
    SetClassAndTitle(display, window, className, title);
    XFlush(display);
    return window;
}

void MoveStandIn(::Display* display, ::Window window, const RECT& rect) {
    XMoveResizeWindow(display, window, rect.left, rect.top,
                      static_cast<unsigned>(rect.right > rect.left ? rect.right - rect.left : 1),
                      static_cast<unsigned>(rect.bottom > rect.top ? rect.bottom - rect.top : 1));
    XFlush(display);
}

const char* ProgramName() {
    return program_invocation_short_name;
}

void SetClassAndTitle(::Display* display, ::Window window, const char* className,
                      const char* title) {
    // WM_CLASS as X toolkits set it: the program's file name, and the same name with a
    // capital first letter as the class a desktop entry's StartupWMClass names.
    std::string name = ProgramName();
    std::string klass = name;
    if (!klass.empty()) {
        klass[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(klass[0])));
    }
    XClassHint hint{name.data(), klass.data()};
    XSetClassHint(display, window, &hint);
    XChangeProperty(display, window, XInternAtom(display, kWindowClassProperty, False), XA_STRING,
                    8, PropModeReplace, reinterpret_cast<const unsigned char*>(className),
                    static_cast<int>(std::strlen(className)));
    XStoreName(display, window, title != nullptr ? title : "");
}

bool WindowManagerRunning(::Display* display) {
    const std::string selection = "WM_S" + std::to_string(DefaultScreen(display));
    return XGetSelectionOwner(display, XInternAtom(display, selection.c_str(), False)) != None;
}

void SetFixedSize(::Display* display, ::Window window, int width, int height) {
    XSizeHints* hints = XAllocSizeHints();
    if (hints == nullptr) {
        return;
    }
    long supplied = 0;
    XGetWMNormalHints(display, window, hints, &supplied);  // keeps position and gravity
    hints->flags |= PMinSize | PMaxSize;
    hints->min_width = hints->max_width = width;
    hints->min_height = hints->max_height = height;
    XSetWMNormalHints(display, window, hints);
    XFree(hints);
    SetCloseBoxOnly(display, window);
}

void SetCloseBoxOnly(::Display* display, ::Window window) {
    // Motif window manager hints: functions move and close; decorations border, title, menu.
    const long hints[5] = {1 | 2, 4 | 32, 2 | 8 | 16, 0, 0};
    const Atom atom = XInternAtom(display, "_MOTIF_WM_HINTS", False);
    XChangeProperty(display, window, atom, atom, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(hints), 5);
}

::Window FindTopLevel(::Display* display, const char* className, const char* title) {
    if (className == nullptr) {
        return 0;
    }
    ErrorTrap trap(display);
    const std::basic_string<::Window> top =
        ChildrenOf(display, DefaultRootWindow(display), nullptr);
    for (auto it = top.rbegin(); it != top.rend(); ++it) {
        if (Matches(display, *it, className, title)) {
            return *it;
        }
        const std::basic_string<::Window> inner = ChildrenOf(display, *it, nullptr);
        for (auto child = inner.rbegin(); child != inner.rend(); ++child) {
            if (Matches(display, *child, className, title)) {
                return *child;
            }
        }
    }
    return 0;
}

bool OuterRect(::Display* display, ::Window window, RECT* rect) {
    ErrorTrap trap(display);
    const ::Window frame = FrameOf(display, window);
    XWindowAttributes attributes{};
    if (XGetWindowAttributes(display, frame, &attributes) == 0) {
        return false;
    }
    const int border = attributes.border_width;
    *rect = RECT{attributes.x, attributes.y, attributes.x + attributes.width + 2 * border,
                 attributes.y + attributes.height + 2 * border};
    return true;
}

RECT FrameInsets(::Display* display, ::Window window) {
    RECT outer{};
    if (FrameOf(display, window) == window || !OuterRect(display, window, &outer)) {
        return RECT{0, 0, 0, 0};
    }
    ErrorTrap trap(display);
    int x = 0;
    int y = 0;
    ::Window child = 0;
    XWindowAttributes attributes{};
    if (!XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &x, &y, &child) ||
        XGetWindowAttributes(display, window, &attributes) == 0) {
        return RECT{0, 0, 0, 0};
    }
    return RECT{x - outer.left, y - outer.top, outer.right - (x + attributes.width),
                outer.bottom - (y + attributes.height)};
}

HWND HandleOf(::Window window) {
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(window) << 4 | 0x1);
}

::Window WindowOf(HWND handle) {
    const auto value = reinterpret_cast<uintptr_t>(handle);
    return (value & 0xF) == 0x1 ? static_cast<::Window>(value >> 4) : 0;
}

}  // namespace platform::x11
