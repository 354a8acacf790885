// Windows on an X display through FLTK. Top-level windows of the program's classes become
// FLTK windows (and, while hidden, an unmapped stand-in that other programs can find);
// "STATIC", "BUTTON" and "EDIT" children become widgets. Everything FLTK runs on the thread
// that opened the display; user actions come back as posted messages, never as calls from
// inside FLTK's event handling. FLTK itself (its display setup, input method, locale and
// fonts) comes up only when something is to be shown or measured: a run whose windows stay
// hidden only keeps its stand-ins on the plain connection.
#include "platform/window/fltk/FltkBackend.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include <platform/dialog.h>
#include <platform/resources.h>
#include "platform/window/Dialogs.h"
#include "platform/window/Fonts.h"
#include "platform/window/WindowObject.h"

#include <FL/Fl.H>
#include <FL/Fl_RGB_Image.H>
#include <FL/x.H>
#include "platform/window/fltk/Controls.h"
#include "platform/window/fltk/X11Windows.h"

namespace platform {
namespace {

using fltk::EditBox;
using fltk::PushButton;
using fltk::StaticText;
using fltk::TopWindow;

bool IsClass(const std::string& name, const char* className) {
    return strcasecmp(name.c_str(), className) == 0;
}

std::string TextOf(HWND window) {
    std::string text(static_cast<size_t>(GetWindowTextLengthA(window)) + 1, '\0');
    text.resize(
        static_cast<size_t>(GetWindowTextA(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

LONG Width(const RECT& r) {
    return r.right - r.left;
}
LONG Height(const RECT& r) {
    return r.bottom - r.top;
}

class FltkBackend : public DisplayBackend {
  public:
    explicit FltkBackend(::Display* display);
    ~FltkBackend() override;
    FltkBackend(const FltkBackend&) = delete;
    FltkBackend& operator=(const FltkBackend&) = delete;

    void WindowCreated(const WindowInfo& info) override;
    void WindowDestroyed(HWND window) override;
    void WindowShown(HWND window, bool visible) override;
    void WindowMoved(HWND window, const RECT& rect) override;
    void TextChanged(HWND window, const std::string& text) override;
    bool IsGuiThread() const override { return std::this_thread::get_id() == guiThread_; }
    void PumpEvents(std::chrono::steady_clock::time_point deadline) override;
    void Wake() override;

    bool HasScreen() const override { return true; }
    RECT ScreenRect() const override;
    RECT FrameInsets(HWND window) const override;
    void FontChanged(HWND window, const FontInfo* font) override;
    void Repaint(HWND window) override;
    void MeasureText(const char* text, const FontInfo* font, int maxWidth, int* width,
                     int* height) const override;
    HWND FindForeignWindow(const char* className, const char* title) override;
    bool ForeignWindowRect(HWND window, RECT* rect) const override;

  private:
    enum class Kind { TopLevel, Static, Button, Edit };
    struct Native {
        Kind kind = Kind::TopLevel;
        HWND parent = nullptr;
        std::string className;
        RECT rect{};    // top-level: outer rectangle on the screen; controls: in the client
        RECT insets{};  // top-level: the desktop's frame, once known
        std::unique_ptr<TopWindow> top;
        Fl_Widget* widget = nullptr;  // controls: owned by the parent's window
        ::Window standIn = 0;         // top-level while hidden
    };

    Native* Find(HWND window);
    const Native* Find(HWND window) const;
    void CreateTopLevel(const WindowInfo& info);
    void CreateControl(const WindowInfo& info);
    void ApplyText(HWND window, const std::string& text);
    void ApplyPendingTexts();
    void Moved(HWND window, int x, int y, int width, int height);
    void WaitUntilViewable(::Window window);
    void OpenToolkit() const;
    static void OnWindowEvent(Fl_Widget* widget, void* data);
    static void OnButton(Fl_Widget* widget, void* data);
    static void OnWake(int fd, void* data);

    ::Display* display_;
    std::thread::id guiThread_;
    mutable bool toolkitOpen_ = false;  // FLTK then owns the connection
    int wakePipe_[2] = {-1, -1};
    std::unordered_map<HWND, Native> natives_;
    std::mutex pendingMutex_;
    std::unordered_map<HWND, std::string> pendingTexts_;  // set from other threads
};

// The X server went away under a running program: there is nothing left to show, so the
// program ends as if its window had been closed (exit code 0), instead of FLTK's fatal error.
int LostDisplay(::Display* /*display*/) {
    static const char kMessage[] = "display connection lost\n";
    [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
    std::_Exit(0);
}

// Until FLTK sets its own, an X error (a request on a window that just vanished) is not fatal.
int IgnoreError(::Display* /*display*/, XErrorEvent* /*error*/) {
    return 0;
}

FltkBackend::FltkBackend(::Display* display)
    : display_(display), guiThread_(std::this_thread::get_id()) {
    XSetIOErrorHandler(LostDisplay);
    XSetErrorHandler(IgnoreError);
    if (pipe2(wakePipe_, O_CLOEXEC | O_NONBLOCK) == 0) {
        Fl::add_fd(wakePipe_[0], FL_READ, OnWake, this);
    }
}

void FltkBackend::OpenToolkit() const {
    if (toolkitOpen_) {  // only the display's thread comes here
        return;
    }
    fl_open_display(display_);
    XSetIOErrorHandler(LostDisplay);  // instead of FLTK's
    Fl::scheme("gtk+");
    toolkitOpen_ = true;
}

FltkBackend::~FltkBackend() {
    if (wakePipe_[0] >= 0) {
        Fl::remove_fd(wakePipe_[0]);
        close(wakePipe_[0]);
        close(wakePipe_[1]);
    }
    if (!toolkitOpen_) {
        XCloseDisplay(display_);  // nobody else holds it; the stand-ins go with it
    }
}

FltkBackend::Native* FltkBackend::Find(HWND window) {
    auto found = natives_.find(window);
    return found != natives_.end() ? &found->second : nullptr;
}

const FltkBackend::Native* FltkBackend::Find(HWND window) const {
    auto found = natives_.find(window);
    return found != natives_.end() ? &found->second : nullptr;
}

void FltkBackend::WindowCreated(const WindowInfo& info) {
    if (!IsGuiThread()) {
        return;  // windows of worker threads are message targets without pixels
    }
    if (info.parent == nullptr) {
        CreateTopLevel(info);
    } else {
        CreateControl(info);
    }
}

void FltkBackend::CreateTopLevel(const WindowInfo& info) {
    const std::string className = info.className;
    if (IsClass(className, "BUTTON") || IsClass(className, "STATIC") ||
        IsClass(className, "EDIT")) {
        return;  // a predefined class without parent is a message target
    }
    Native native;
    native.kind = Kind::TopLevel;
    native.className = className;
    native.rect = info.rect;
    HWND window = info.window;
    native.top = std::make_unique<TopWindow>(
        info.rect.left, info.rect.top, std::max<int>(Width(info.rect), 1),
        std::max<int>(Height(info.rect), 1),
        [this, window](int x, int y, int w, int h) { Moved(window, x, y, w, h); });
    TopWindow& top = *native.top;
    const std::string title = TextOf(window);
    top.copy_label(title.c_str());
    top.xclass(x11::ProgramName());  // FLTK adds the class with a capital first letter
    top.size_range(top.w(), top.h(), top.w(), top.h());
    top.callback(OnWindowEvent, window);
    if (IsClass(className, kDialogClass)) {
        top.set_modal();
    }
    // A window whose class has no icon (the boxes and dialogs) shows the program's.
    const ResourceIcon* icon = info.icon != nullptr ? FindIcon(info.icon) : ProgramIcon();
    if (icon != nullptr) {
        const std::vector<unsigned char> pixels = IconRgba(*icon);
        const Fl_RGB_Image image(pixels.data(), icon->width, icon->height, 4);
        top.icon(&image);  // FLTK keeps a copy
    }
    native.standIn = x11::CreateStandIn(display_, className.c_str(), title.c_str(), info.rect);
    natives_[window] = std::move(native);
}

void FltkBackend::CreateControl(const WindowInfo& info) {
    Native* parent = Find(info.parent);
    if (parent == nullptr || parent->top == nullptr) {
        return;
    }
    Native native;
    native.parent = info.parent;
    native.className = info.className;
    native.rect = info.rect;
    const int x = info.rect.left;
    const int y = info.rect.top;
    const int w = std::max<int>(Width(info.rect), 1);
    const int h = std::max<int>(Height(info.rect), 1);
    if (IsClass(native.className, "STATIC")) {
        native.kind = Kind::Static;
        native.widget = new StaticText(x, y, w, h);  // owned by the parent window
    } else if (IsClass(native.className, "BUTTON")) {
        native.kind = Kind::Button;
        auto* button = new PushButton(x, y, w, h, (info.style & 0xF) == BS_DEFPUSHBUTTON);
        button->callback(OnButton, info.window);
        native.widget = button;
    } else if (IsClass(native.className, "EDIT")) {
        native.kind = Kind::Edit;
        native.widget = new EditBox(x, y, w, h);
    } else {
        return;  // child windows of the program's own classes have no pixels here
    }
    parent->top->add(native.widget);
    if ((info.style & WS_VISIBLE) == 0) {
        native.widget->hide();
    }
    native.widget->redraw();  // the parent may be on the screen already
    HWND window = info.window;
    natives_[window] = std::move(native);
    ApplyText(window, TextOf(window));
}

void FltkBackend::WindowDestroyed(HWND window) {
    if (!IsGuiThread()) {
        return;
    }
    auto found = natives_.find(window);
    if (found == natives_.end()) {
        return;
    }
    Native& native = found->second;
    if (native.widget != nullptr) {
        if (Native* parent = Find(native.parent); parent != nullptr && parent->top != nullptr) {
            parent->top->remove(native.widget);
            parent->top->redraw();
        }
        delete native.widget;
    }
    if (native.standIn != 0) {
        XDestroyWindow(display_, native.standIn);
        XFlush(display_);
    }
    if (native.top != nullptr) {
        native.top->hide();
        // Controls whose destruction was not reported go with the window.
        std::erase_if(natives_,
                      [window](const auto& entry) { return entry.second.parent == window; });
    }
    natives_.erase(window);
}

void FltkBackend::WindowShown(HWND window, bool visible) {
    Native* native = IsGuiThread() ? Find(window) : nullptr;
    if (native == nullptr) {
        return;
    }
    if (native->widget != nullptr) {
        if (visible) {
            native->widget->show();
        } else {
            native->widget->hide();
        }
        return;
    }
    TopWindow& top = *native->top;
    if (visible) {
        OpenToolkit();
        if (native->standIn != 0) {
            XDestroyWindow(display_, native->standIn);
            native->standIn = 0;
        }
        top.ResizeQuietly(
            native->rect.left, native->rect.top,
            std::max<int>(Width(native->rect) - native->insets.left - native->insets.right, 1),
            std::max<int>(Height(native->rect) - native->insets.top - native->insets.bottom, 1));
        top.show();
        const ::Window xid = fl_xid(&top);
        x11::SetClassAndTitle(display_, xid, native->className.c_str(), top.label());
        x11::SetFixedSize(display_, xid, top.w(), top.h());
        const RECT target = native->rect;  // where the window manager first puts it is reported
        WaitUntilViewable(xid);
        // The rectangle is the outer one, while FLTK's windows place their client area (static
        // gravity): the frame the window manager has put around it moves the client inwards.
        const bool managed = x11::WindowManagerRunning(display_);
        native->insets = managed ? x11::FrameInsets(display_, xid) : RECT{0, 0, 0, 0};
        native->rect = target;
        XMoveWindow(display_, xid, target.left + native->insets.left,
                    target.top + native->insets.top);
        if (!managed) {
            // Nobody else gives the new window the keyboard.
            XSetInputFocus(display_, xid, RevertToPointerRoot, CurrentTime);
        }
        XFlush(display_);
    } else if (top.shown()) {
        top.hide();
        native->standIn =
            x11::CreateStandIn(display_, native->className.c_str(), top.label(), native->rect);
    }
}

void FltkBackend::WindowMoved(HWND window, const RECT& rect) {
    Native* native = IsGuiThread() ? Find(window) : nullptr;
    if (native == nullptr) {
        return;
    }
    native->rect = rect;
    if (native->widget != nullptr) {
        native->widget->resize(rect.left, rect.top, std::max<int>(Width(rect), 1),
                               std::max<int>(Height(rect), 1));
        native->widget->window()->redraw();
        return;
    }
    const RECT& frame = native->insets;
    native->top->ResizeQuietly(rect.left + frame.left, rect.top + frame.top,
                               std::max<int>(Width(rect) - frame.left - frame.right, 1),
                               std::max<int>(Height(rect) - frame.top - frame.bottom, 1));
    if (native->top->shown()) {  // the toolkit has just sent size hints of its own
        x11::SetFixedSize(display_, fl_xid(native->top.get()), native->top->w(),
                          native->top->h());
    }
    if (native->standIn != 0) {
        x11::MoveStandIn(display_, native->standIn, rect);
    }
}

// A shown window is on the screen once it is viewable, and framed first when a window
// manager runs. One that never maps it (another workspace) costs a second.
void FltkBackend::WaitUntilViewable(::Window window) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    XWindowAttributes attributes{};
    while (XGetWindowAttributes(display_, window, &attributes) != 0 &&
           attributes.map_state != IsViewable && std::chrono::steady_clock::now() < end) {
        Fl::wait(0.01);
    }
}

// The desktop moved or framed a shown window: the outer rectangle follows, the client keeps
// its size.
void FltkBackend::Moved(HWND window, int x, int y, int width, int height) {
    Native* native = Find(window);
    if (native == nullptr || native->top == nullptr || !native->top->shown()) {
        return;
    }
    native->insets = x11::FrameInsets(display_, fl_xid(native->top.get()));
    const RECT& frame = native->insets;
    native->rect =
        RECT{x - frame.left, y - frame.top, x + width + frame.right, y + height + frame.bottom};
    SetRectFromDisplay(window, native->rect);
}

void FltkBackend::TextChanged(HWND window, const std::string& text) {
    if (!IsGuiThread()) {
        {
            std::lock_guard<std::mutex> lock(pendingMutex_);
            pendingTexts_[window] = text;
        }
        Wake();
        return;
    }
    ApplyText(window, text);
}

void FltkBackend::ApplyText(HWND window, const std::string& text) {
    Native* native = Find(window);
    if (native == nullptr) {
        return;
    }
    switch (native->kind) {
        case Kind::TopLevel:
            native->top->copy_label(text.c_str());
            if (native->standIn != 0) {
                XStoreName(display_, native->standIn, text.c_str());
            }
            break;
        case Kind::Static:
            static_cast<StaticText*>(native->widget)->SetText(text);
            break;
        case Kind::Button:
            native->widget->copy_label(text.c_str());
            break;
        case Kind::Edit:
            static_cast<EditBox*>(native->widget)->SetText(text);
            break;
    }
}

void FltkBackend::ApplyPendingTexts() {
    std::unordered_map<HWND, std::string> pending;
    {
        std::lock_guard<std::mutex> lock(pendingMutex_);
        pending.swap(pendingTexts_);
    }
    for (auto& [window, text] : pending) {
        ApplyText(window, text);
    }
}

void FltkBackend::PumpEvents(std::chrono::steady_clock::time_point deadline) {
    ApplyPendingTexts();
    double seconds = 3600.0;
    if (deadline != std::chrono::steady_clock::time_point::max()) {
        seconds =
            std::chrono::duration<double>(deadline - std::chrono::steady_clock::now()).count();
        seconds = std::clamp(seconds, 0.0, 3600.0);
    }
    Fl::wait(seconds);
    ApplyPendingTexts();
}

void FltkBackend::Wake() {
    if (wakePipe_[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t written = write(wakePipe_[1], &byte, 1);  // full: awake
    }
}

void FltkBackend::OnWake(int fd, void* /*data*/) {
    char bytes[256];
    while (read(fd, bytes, sizeof bytes) > 0) {
    }
}

// The close box asks to close; Escape cancels a dialog and does nothing elsewhere.
void FltkBackend::OnWindowEvent(Fl_Widget* /*widget*/, void* data) {
    HWND window = static_cast<HWND>(data);
    if (Fl::event() == FL_CLOSE) {
        PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    } else if (Fl::event_key() == FL_Escape && ClassNameOf(window) == kDialogClass) {
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    }
}

void FltkBackend::OnButton(Fl_Widget* /*widget*/, void* data) {
    HWND button = static_cast<HWND>(data);
    const auto id = static_cast<int>(GetWindowLongPtrA(button, GWLP_ID));
    PostMessageA(GetParent(button), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
}

RECT FltkBackend::ScreenRect() const {
    const int screen = DefaultScreen(display_);
    return RECT{0, 0, DisplayWidth(display_, screen), DisplayHeight(display_, screen)};
}

RECT FltkBackend::FrameInsets(HWND window) const {
    const Native* native = IsGuiThread() ? Find(window) : nullptr;
    return native != nullptr ? native->insets : RECT{0, 0, 0, 0};
}

void FltkBackend::FontChanged(HWND window, const FontInfo* font) {
    Native* native = IsGuiThread() ? Find(window) : nullptr;
    if (native == nullptr) {
        return;
    }
    OpenToolkit();
    const fltk::MappedFont mapped = fltk::MapFont(font);
    switch (native->kind) {
        case Kind::Static:
            static_cast<StaticText*>(native->widget)->SetFont(mapped);
            break;
        case Kind::Edit:
            static_cast<EditBox*>(native->widget)->SetFont(mapped);
            break;
        case Kind::Button:
            native->widget->labelfont(mapped.face);
            native->widget->labelsize(mapped.size);
            native->widget->redraw();
            break;
        case Kind::TopLevel:
            break;
    }
}

void FltkBackend::Repaint(HWND /*window*/) {
    if (IsGuiThread()) {
        Fl::flush();
    }
}

void FltkBackend::MeasureText(const char* text, const FontInfo* font, int maxWidth, int* width,
                              int* height) const {
    OpenToolkit();
    fltk::Measure(text, fltk::MapFont(font), maxWidth, width, height);
}

HWND FltkBackend::FindForeignWindow(const char* className, const char* title) {
    const ::Window found = x11::FindTopLevel(display_, className, title);
    return found != 0 ? x11::HandleOf(found) : nullptr;
}

bool FltkBackend::ForeignWindowRect(HWND window, RECT* rect) const {
    const ::Window found = x11::WindowOf(window);
    return found != 0 && x11::OuterRect(display_, found, rect);
}

}  // namespace

std::unique_ptr<DisplayBackend> MakeFltkBackend(_XDisplay* display) {
    return std::make_unique<FltkBackend>(display);
}

}  // namespace platform
