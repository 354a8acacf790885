// Window classes and window objects: registration, creation with WM_CREATE, destruction with
// WM_DESTROY (children after their parent), and the fields that the window calls read and
// change. The display backend hears of every change.
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include <platform/kernel.h>
#include <platform/window.h>
#include "platform/window/DisplayBackend.h"
#include "platform/window/Fonts.h"
#include "platform/window/MessageQueue.h"
#include "platform/window/WindowObject.h"

namespace platform {
namespace {

struct WindowClass {
    std::string name;
    WNDPROC procedure;
    HINSTANCE instance;
    ATOM atom;
    HICON icon = nullptr;
};

struct Window {
    std::shared_ptr<MessageQueue> queue;
    std::string className;
    WNDPROC procedure = nullptr;
    HINSTANCE instance = nullptr;
    HWND parent = nullptr;
    LONG_PTR id = 0;
    DWORD style = 0;
    DWORD exStyle = 0;
    RECT rect{};
    std::string text;
    LONG_PTR userData = 0;
    bool visible = false;
    bool destroying = false;
};

struct Registry {
    std::mutex mutex;
    std::vector<WindowClass> classes;
    ATOM nextAtom = 0xC000;
    std::unordered_map<HWND, Window> windows;
    uintptr_t nextHandle = 1;
};

Registry& TheRegistry() {
    static auto* registry = [] {
        auto* created = new Registry();  // outlives every thread's clean-up at exit
        // The predefined classes are plain message targets without pixels of their own.
        for (const char* name : {"BUTTON", "STATIC", "EDIT"}) {
            created->classes.push_back({name, DefWindowProcA, nullptr, created->nextAtom++});
        }
        return created;
    }();
    return *registry;
}

WindowClass* FindClass(Registry& registry, const char* name) {
    for (WindowClass& windowClass : registry.classes) {
        if (strcasecmp(windowClass.name.c_str(), name) == 0) {
            return &windowClass;
        }
    }
    return nullptr;
}

// Runs `read` on the window under the registry lock; false for an unknown window.
template <typename Access>
bool WithWindow(HWND handle, Access access) {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    auto found = registry.windows.find(handle);
    if (found == registry.windows.end()) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    access(found->second);
    return true;
}

void StoreText(HWND window, const char* text) {
    std::string value = text != nullptr ? text : "";
    if (WithWindow(window, [&](Window& w) { w.text = value; })) {
        Display().TextChanged(window, value);
    }
}

}  // namespace

WNDPROC ProcedureOf(HWND window) {
    WNDPROC procedure = nullptr;
    WithWindow(window, [&](Window& w) { procedure = w.procedure; });
    return procedure;
}

std::shared_ptr<MessageQueue> QueueOf(HWND window) {
    std::shared_ptr<MessageQueue> queue;
    WithWindow(window, [&](Window& w) { queue = w.queue; });
    return queue;
}

void ForgetWindowsOf(const MessageQueue* queue) {
    std::vector<HWND> gone;
    {
        Registry& registry = TheRegistry();
        std::lock_guard<std::mutex> lock(registry.mutex);
        for (auto it = registry.windows.begin(); it != registry.windows.end();) {
            if (it->second.queue.get() == queue) {
                gone.push_back(it->first);
                it = registry.windows.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (HWND window : gone) {
        Display().WindowDestroyed(window);
    }
}

// Text handling shared with DefWindowProcA.
void SetTextOfWindow(HWND window, const char* text) {
    StoreText(window, text);
}

int CopyTextOfWindow(HWND window, char* buffer, int size) {
    std::string text;
    if (!WithWindow(window, [&](Window& w) { text = w.text; })) {
        if (buffer != nullptr && size > 0) {
            buffer[0] = '\0';
        }
        return 0;
    }
    if (buffer == nullptr || size <= 0) {
        return 0;
    }
    const size_t count = std::min(text.size(), static_cast<size_t>(size - 1));
    std::memcpy(buffer, text.data(), count);
    buffer[count] = '\0';
    return static_cast<int>(count);
}

int TextLengthOfWindow(HWND window) {
    int length = 0;
    WithWindow(window, [&](Window& w) { length = static_cast<int>(w.text.size()); });
    return length;
}

std::vector<HWND> ChildrenOf(HWND window) {
    std::vector<std::pair<uintptr_t, HWND>> ordered;
    Registry& registry = TheRegistry();
    {
        std::lock_guard<std::mutex> lock(registry.mutex);
        for (auto& [handle, w] : registry.windows) {
            if (w.parent == window && !w.destroying) {
                ordered.emplace_back(reinterpret_cast<uintptr_t>(handle), handle);
            }
        }
    }
    std::sort(ordered.begin(), ordered.end());  // handles grow: creation order
    std::vector<HWND> children;
    for (auto& entry : ordered) {
        children.push_back(entry.second);
    }
    return children;
}

std::string ClassNameOf(HWND window) {
    std::string name;
    WithWindow(window, [&](Window& w) { name = w.className; });
    return name;
}

void SetRectFromDisplay(HWND window, const RECT& rect) {
    WithWindow(window, [&](Window& w) { w.rect = rect; });
}

HWND FindTopLevelWindow(const char* className, const char* title) {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    HWND found = nullptr;
    for (auto& [handle, w] : registry.windows) {
        if (w.parent != nullptr || w.destroying ||
            (className != nullptr && strcasecmp(w.className.c_str(), className) != 0) ||
            (title != nullptr && w.text != title)) {
            continue;
        }
        // The newest window first, as the most recently created one is on top.
        if (found == nullptr ||
            reinterpret_cast<uintptr_t>(handle) > reinterpret_cast<uintptr_t>(found)) {
            found = handle;
        }
    }
    return found;
}

}  // namespace platform

using platform::Display;
using platform::TheRegistry;
using platform::Window;
using platform::WithWindow;

ATOM RegisterClassExA(const WNDCLASSEXA* windowClass) {
    if (windowClass == nullptr || windowClass->cbSize != sizeof(WNDCLASSEXA) ||
        windowClass->lpfnWndProc == nullptr || windowClass->lpszClassName == nullptr ||
        windowClass->lpszClassName[0] == '\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    platform::Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    if (platform::FindClass(registry, windowClass->lpszClassName) != nullptr) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    const ATOM atom = registry.nextAtom++;
    registry.classes.push_back({windowClass->lpszClassName, windowClass->lpfnWndProc,
                                windowClass->hInstance, atom, windowClass->hIcon});
    return atom;
}

BOOL UnregisterClassA(LPCSTR className, HINSTANCE /*instance*/) {
    if (className == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    platform::Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    const auto before = registry.classes.size();
    std::erase_if(registry.classes, [&](const platform::WindowClass& c) {
        return c.instance != nullptr && strcasecmp(c.name.c_str(), className) == 0;
    });
    if (registry.classes.size() == before) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    return TRUE;
}

HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param) {
    if (className == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (parent != nullptr && !IsWindow(parent)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    auto toDefault = [](int value, int fallback) {
        return value == CW_USEDEFAULT ? fallback : value;
    };
    x = toDefault(x, 0);
    y = toDefault(y, 0);
    width = toDefault(width, 240);
    height = toDefault(height, 80);

    HWND handle = nullptr;
    WNDPROC procedure = nullptr;
    HICON icon = nullptr;
    std::string canonicalClass;
    {
        platform::Registry& registry = TheRegistry();
        std::lock_guard<std::mutex> lock(registry.mutex);
        platform::WindowClass* windowClass = platform::FindClass(registry, className);
        if (windowClass == nullptr) {
            SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
            return nullptr;
        }
        procedure = windowClass->procedure;
        icon = windowClass->icon;
        canonicalClass = windowClass->name;
        handle = reinterpret_cast<HWND>(registry.nextHandle++ << 4);
        Window window;
        window.queue = platform::CurrentQueuePtr();
        window.className = canonicalClass;
        window.procedure = procedure;
        window.instance = instance;
        window.parent = parent;
        window.id = reinterpret_cast<LONG_PTR>(menu);
        window.style = style;
        window.exStyle = exStyle;
        window.rect = RECT{x, y, x + width, y + height};
        window.text = windowName != nullptr ? windowName : "";
        registry.windows.emplace(handle, std::move(window));
    }
    Display().WindowCreated(platform::WindowInfo{handle, parent, canonicalClass.c_str(), style,
                                                 exStyle, RECT{x, y, x + width, y + height}, icon});

    CREATESTRUCTA create{
        param,      instance,  menu,   parent, height, width, y, x, static_cast<LONG>(style),
        windowName, className, exStyle};
    if (procedure(handle, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1) {
        DestroyWindow(handle);
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if ((style & WS_VISIBLE) != 0 && IsWindow(handle)) {
        WithWindow(handle, [](Window& w) { w.visible = true; });
        Display().WindowShown(handle, true);
    }
    return handle;
}

BOOL DestroyWindow(HWND window) {
    WNDPROC procedure = nullptr;
    std::shared_ptr<platform::MessageQueue> queue;
    bool already = false;
    if (!WithWindow(window, [&](Window& w) {
            procedure = w.procedure;
            queue = w.queue;
            already = w.destroying;
            w.destroying = true;
        })) {
        return FALSE;
    }
    if (already) {
        return TRUE;  // a WM_DESTROY handler that destroys its own window again
    }
    if (queue.get() != &platform::CurrentQueue()) {
        WithWindow(window, [](Window& w) { w.destroying = false; });
        SetLastError(ERROR_ACCESS_DENIED);  // only the owning thread may destroy a window
        return FALSE;
    }
    procedure(window, WM_DESTROY, 0, 0);

    std::vector<HWND> children;
    {
        platform::Registry& registry = TheRegistry();
        std::lock_guard<std::mutex> lock(registry.mutex);
        for (auto& [handle, w] : registry.windows) {
            if (w.parent == window) {
                children.push_back(handle);
            }
        }
    }
    for (HWND child : children) {
        DestroyWindow(child);
    }
    procedure(window, WM_NCDESTROY, 0, 0);
    {
        platform::Registry& registry = TheRegistry();
        std::lock_guard<std::mutex> lock(registry.mutex);
        registry.windows.erase(window);
    }
    queue->ForgetWindow(window);
    platform::ForgetFontOfWindow(window);
    Display().WindowDestroyed(window);
    return TRUE;
}

BOOL IsWindow(HWND window) {
    if (window == nullptr) {
        return FALSE;
    }
    platform::Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    return registry.windows.count(window) != 0 ? TRUE : FALSE;
}

BOOL ShowWindow(HWND window, int command) {
    bool wasVisible = false;
    const bool visible = command != SW_HIDE;
    if (!WithWindow(window, [&](Window& w) {
            wasVisible = w.visible;
            w.visible = visible;
        })) {
        return FALSE;
    }
    if (wasVisible != visible) {
        Display().WindowShown(window, visible);
    }
    return wasVisible ? TRUE : FALSE;
}

BOOL IsWindowVisible(HWND window) {
    bool visible = false;
    WithWindow(window, [&](Window& w) { visible = w.visible; });
    return visible ? TRUE : FALSE;
}

BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL /*repaint*/) {
    const RECT rect{x, y, x + width, y + height};
    if (!WithWindow(window, [&](Window& w) { w.rect = rect; })) {
        return FALSE;
    }
    Display().WindowMoved(window, rect);
    return TRUE;
}

BOOL GetWindowRect(HWND window, RECT* rect) {
    if (rect == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (platform::SpecialWindowRect(window, rect)) {
        return TRUE;  // the desktop, or another program's window
    }
    return WithWindow(window, [&](Window& w) { *rect = w.rect; }) ? TRUE : FALSE;
}

HWND GetParent(HWND window) {
    HWND parent = nullptr;
    WithWindow(window, [&](Window& w) { parent = w.parent; });
    return parent;
}

DWORD GetWindowThreadProcessId(HWND window, DWORD* processId) {
    DWORD thread = 0;
    WithWindow(window, [&](Window& w) { thread = w.queue->ThreadId(); });
    if (processId != nullptr) {
        *processId = thread != 0 ? static_cast<DWORD>(::getpid()) : 0;
    }
    return thread;
}

LONG_PTR GetWindowLongPtrA(HWND window, int index) {
    LONG_PTR value = 0;
    bool known = true;
    WithWindow(window, [&](Window& w) {
        switch (index) {
            case GWLP_WNDPROC:
                value = reinterpret_cast<LONG_PTR>(w.procedure);
                break;
            case GWLP_HINSTANCE:
                value = reinterpret_cast<LONG_PTR>(w.instance);
                break;
            case GWLP_ID:
                value = w.id;
                break;
            case GWL_STYLE:
                value = static_cast<LONG_PTR>(w.style);
                break;
            case GWL_EXSTYLE:
                value = static_cast<LONG_PTR>(w.exStyle);
                break;
            case GWLP_USERDATA:
                value = w.userData;
                break;
            default:
                known = false;
                break;
        }
    });
    if (!known) {
        SetLastError(ERROR_INVALID_PARAMETER);
    }
    return value;
}

LONG_PTR SetWindowLongPtrA(HWND window, int index, LONG_PTR value) {
    LONG_PTR previous = 0;
    bool known = true;
    WithWindow(window, [&](Window& w) {
        switch (index) {
            case GWLP_WNDPROC:
                if (value == 0) {
                    known = false;
                    break;
                }
                previous = reinterpret_cast<LONG_PTR>(w.procedure);
                w.procedure = reinterpret_cast<WNDPROC>(value);
                break;
            case GWLP_ID:
                previous = std::exchange(w.id, value);
                break;
            case GWL_STYLE:
                previous = static_cast<LONG_PTR>(std::exchange(w.style, static_cast<DWORD>(value)));
                break;
            case GWL_EXSTYLE:
                previous =
                    static_cast<LONG_PTR>(std::exchange(w.exStyle, static_cast<DWORD>(value)));
                break;
            case GWLP_USERDATA:
                previous = std::exchange(w.userData, value);
                break;
            default:
                known = false;
                break;
        }
    });
    if (!known) {
        SetLastError(ERROR_INVALID_PARAMETER);
    }
    return previous;
}

// The text lives on the window object, so any thread may set and read it without waiting for
// the owning thread.
BOOL SetWindowTextA(HWND window, LPCSTR text) {
    if (!IsWindow(window)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    platform::SetTextOfWindow(window, text);
    return TRUE;
}

int GetWindowTextA(HWND window, LPSTR buffer, int size) {
    return platform::CopyTextOfWindow(window, buffer, size);
}

int GetWindowTextLengthA(HWND window) {
    return platform::TextLengthOfWindow(window);
}
