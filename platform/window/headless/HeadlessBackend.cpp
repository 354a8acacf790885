#include "platform/window/headless/HeadlessBackend.h"

#include <strings.h>
#include <sys/ioctl.h>

#include <vector>

#include "platform/window/WindowObject.h"
#include "platform/window/headless/StatusLineFit.h"

namespace platform {
namespace {

std::string TextOf(HWND window) {
    std::string text(static_cast<size_t>(GetWindowTextLengthA(window)) + 1, '\0');
    text.resize(
        static_cast<size_t>(GetWindowTextA(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

// Terminal lines end in "\n" only.
std::string WithoutCarriageReturns(std::string text) {
    std::erase(text, '\r');
    return text;
}

bool IsClass(HWND window, const char* className) {
    return strcasecmp(ClassNameOf(window).c_str(), className) == 0;
}

}  // namespace

HeadlessBackend::HeadlessBackend(FILE* out, FILE* err, bool statusLine)
    : out_(out), err_(err), statusLine_(statusLine) {}

HeadlessBackend::~HeadlessBackend() {
    if (lineDrawn_) {
        std::fputc('\n', err_);
    }
}

void HeadlessBackend::ModalWithoutScreen(HWND window, ModalKind kind) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (kind == ModalKind::MessageBox) {
        std::string text;
        for (HWND child : ChildrenOf(window)) {
            if (IsClass(child, "STATIC")) {
                text += TextOf(child);
            }
        }
        if (text.empty() || text.back() != '\n') {
            text += '\n';
        }
        if (lineDrawn_) {
            std::fputc('\n', err_);
            lineDrawn_ = false;
        }
        std::fprintf(err_, "%s: %s", TextOf(window).c_str(), text.c_str());
        std::fflush(err_);
        return;
    }
    for (HWND child : ChildrenOf(window)) {
        if (IsClass(child, "EDIT")) {
            std::string text = WithoutCarriageReturns(TextOf(child));
            if (!text.empty() && text.back() != '\n') {
                text += '\n';
            }
            std::fputs(text.c_str(), out_);
        }
    }
    // Not flushed here: a write error (a full disk) then shows, with its reason, when the
    // program flushes the stream at its end.
}

void HeadlessBackend::WindowShown(HWND window, bool visible) {
    if (!statusLine_ || GetParent(window) != nullptr) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (visible) {
            shownWindow_ = window;
        } else if (shownWindow_ == window) {
            shownWindow_ = nullptr;
        }
    }
    if (visible) {
        DrawStatusLine(window);
    }
}

void HeadlessBackend::WindowDestroyed(HWND window) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (shownWindow_ == window) {
        shownWindow_ = nullptr;
        if (lineDrawn_) {
            std::fputc('\n', err_);
            std::fflush(err_);
            lineDrawn_ = false;
        }
    }
}

void HeadlessBackend::TextChanged(HWND window, const std::string& /*text*/) {
    if (!statusLine_) {
        return;
    }
    HWND parent = GetParent(window);
    HWND shown = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        shown = shownWindow_;
    }
    if (shown != nullptr && parent == shown) {
        DrawStatusLine(shown);
    }
}

// The rows of the window side by side, redrawn in place. The terminal's width is asked at
// every draw, so a resized terminal (SIGWINCH) is followed at the next one without a signal
// handler: one ioctl per 50 ms costs nothing.
void HeadlessBackend::DrawStatusLine(HWND window) {
    std::vector<std::string> rows;
    for (HWND child : ChildrenOf(window)) {
        if (IsClass(child, "STATIC")) {
            rows.push_back(TextOf(child));
        }
    }
    if (rows.empty()) {
        return;
    }
    winsize size{};
    const bool known = ioctl(fileno(err_), TIOCGWINSZ, &size) == 0 && size.ws_col > 0;
    // The last column stays free: a line that fills it leaves some terminals' cursor
    // waiting past the edge, and the next "\r" would then land on a line of its own.
    const std::string line = FitStatusLine(rows, known ? size.ws_col - 1 : 79);
    std::lock_guard<std::mutex> lock(mutex_);
    std::fprintf(err_, "\r%s\033[K", line.c_str());
    std::fflush(err_);
    lineDrawn_ = true;
}

}  // namespace platform
