// Threads, waiting, message queues, windows and timers without a display.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include <platform/kernel.h>
#include <platform/window.h>
#include "platform/window/DisplayBackend.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

TEST(PlatformThreads, WaitTimesOutThenSeesTheEndAndTheExitCode) {
    std::atomic<bool> release{false};
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](LPVOID p) -> DWORD {
            while (!static_cast<std::atomic<bool>*>(p)->load()) {
                Sleep(1);
            }
            return 7;
        },
        &release, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, 30), static_cast<DWORD>(WAIT_TIMEOUT));
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
    release = true;
    EXPECT_EQ(WaitForSingleObject(thread, 2000), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 7u);
    EXPECT_TRUE(CloseHandle(thread));
    EXPECT_EQ(WaitForSingleObject(thread, 0), static_cast<DWORD>(WAIT_FAILED));
    EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
}

TEST(PlatformThreads, InterlockedCountsFromManyThreads) {
    LONG plain = 0;
    std::atomic<LONG> atomic{0};
    std::vector<HANDLE> threads;
    struct Counters {
        LONG* plain;
        std::atomic<LONG>* atomic;
    } counters{&plain, &atomic};
    for (int i = 0; i < 4; ++i) {
        threads.push_back(CreateThread(
            nullptr, 0,
            [](LPVOID p) -> DWORD {
                auto* c = static_cast<Counters*>(p);
                for (int n = 0; n < 10000; ++n) {
                    InterlockedIncrement(c->plain);
                    InterlockedIncrement(c->atomic);
                    InterlockedDecrement(c->atomic);
                }
                return 0;
            },
            &counters, 0, nullptr));
    }
    for (HANDLE t : threads) {
        EXPECT_EQ(WaitForSingleObject(t, INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));
        CloseHandle(t);
    }
    EXPECT_EQ(plain, 40000);
    EXPECT_EQ(atomic.load(), 0);
}

std::vector<std::string>* journal = nullptr;

LRESULT Logging(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    char text[64];
    GetWindowTextA(window, text, sizeof text);
    if (message == WM_CREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        journal->push_back(std::string("create ") + create->lpszName);
    } else if (message == WM_DESTROY) {
        journal->push_back(std::string("destroy ") + text);
    } else if (message == WM_USER) {
        journal->push_back(std::string("user ") + text + " " + std::to_string(wParam));
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

TEST(PlatformWindows, CreateSendsCreateAndDestroyTakesChildrenAlong) {
    std::vector<std::string> log;
    journal = &log;
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = Logging;
    wc.hInstance = reinterpret_cast<HINSTANCE>(0x400000);
    wc.lpszClassName = "TESTCLASS";
    ASSERT_NE(RegisterClassExA(&wc), 0);
    EXPECT_EQ(RegisterClassExA(&wc), 0) << "registered twice";
    HWND parent = CreateWindowExA(0, "testclass", "parent", WS_POPUP, 10, 20, 240, 80, nullptr,
                                  nullptr, wc.hInstance, nullptr);
    ASSERT_NE(parent, nullptr);
    HWND child = CreateWindowExA(0, "TESTCLASS", "child", WS_CHILD, 0, 0, 5, 5, parent,
                                 reinterpret_cast<HMENU>(5), wc.hInstance, nullptr);
    HWND button = CreateWindowExA(0, "BUTTON", "hidden", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                  nullptr, nullptr);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(GetWindowLongPtrA(parent, GWLP_HINSTANCE), 0x400000);
    EXPECT_EQ(GetWindowLongPtrA(child, GWLP_ID), 5);
    EXPECT_EQ(
        CreateWindowExA(0, "NOSUCHCLASS", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr),
        nullptr);
    EXPECT_TRUE(SetWindowTextA(child, "renamed"));
    char text[4];
    EXPECT_EQ(GetWindowTextA(child, text, sizeof text), 3);
    EXPECT_STREQ(text, "ren");
    EXPECT_EQ(SendMessageA(child, WM_USER, 3, 0), 0);
    EXPECT_TRUE(PostMessageA(parent, WM_CLOSE, 0, 0));
    MSG msg;
    ASSERT_TRUE(GetMessageA(&msg, parent, 0, 0));
    DispatchMessageA(&msg);  // DefWindowProcA: WM_CLOSE destroys the window
    EXPECT_FALSE(IsWindow(parent));
    EXPECT_FALSE(IsWindow(child));
    EXPECT_TRUE(IsWindow(button));
    EXPECT_TRUE(DestroyWindow(button));
    EXPECT_FALSE(PostMessageA(button, WM_USER, 0, 0)) << "a destroyed window takes no posts";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_EQ(log, (std::vector<std::string>{"create parent", "create child", "user renamed 3",
                                             "destroy parent", "destroy renamed"}));
    EXPECT_TRUE(UnregisterClassA("TESTCLASS", wc.hInstance));
    journal = nullptr;
}

// Posts from other threads arrive in order at a thread that blocks in GetMessageA with a
// window filter; messages for other windows wait; a quit ends the loop even with the filter.
TEST(PlatformMessages, FilteredLoopGetsPostsFromOtherThreadsInOrder) {
    HWND mine =
        CreateWindowExA(0, "STATIC", "mine", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    HWND other =
        CreateWindowExA(0, "EDIT", "other", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    struct Target {
        HWND mine, other;
    } target{mine, other};
    HANDLE poster = CreateThread(
        nullptr, 0,
        [](LPVOID p) -> DWORD {
            auto* t = static_cast<Target*>(p);
            Sleep(20);
            PostMessageA(t->other, WM_USER, 99, 0);
            for (WPARAM i = 0; i < 100; ++i) {
                PostMessageA(t->mine, WM_USER + 1, i, 0);
            }
            return 0;
        },
        &target, 0, nullptr);
    MSG msg;
    for (WPARAM i = 0; i < 100; ++i) {
        ASSERT_EQ(GetMessageA(&msg, mine, 0, 0), TRUE);
        ASSERT_EQ(msg.hwnd, mine);
        ASSERT_EQ(msg.wParam, i);
    }
    EXPECT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.hwnd, other);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    PostQuitMessage(3);
    EXPECT_EQ(GetMessageA(&msg, mine, 0, 0), FALSE);
    EXPECT_EQ(msg.wParam, 3u);
    WaitForSingleObject(poster, INFINITE);
    CloseHandle(poster);
    DestroyWindow(mine);
    DestroyWindow(other);
}

TEST(PlatformMessages, TimerTicksEveryPeriodUntilKilled) {
    HWND window =
        CreateWindowExA(0, "STATIC", "t", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    ASSERT_EQ(SetTimer(window, 7, 50, nullptr), 7u);
    const Clock::time_point start = Clock::now();
    MSG msg;
    for (int tick = 1; tick <= 4; ++tick) {
        ASSERT_EQ(GetMessageA(&msg, window, 0, 0), TRUE);
        EXPECT_EQ(msg.message, static_cast<UINT>(WM_TIMER));
        EXPECT_EQ(msg.wParam, 7u);
    }
    const auto took = Clock::now() - start;
    EXPECT_GE(took, 195ms);
    EXPECT_LT(took, 600ms);  // slow (sanitizer) builds on a busy machine
    EXPECT_TRUE(KillTimer(window, 7));
    EXPECT_FALSE(KillTimer(window, 7));
    Sleep(80);
    EXPECT_FALSE(PeekMessageA(&msg, window, 0, 0, PM_REMOVE)) << "a killed timer ticked";
    DestroyWindow(window);
}

TEST(PlatformMessages, SendFromAnotherThreadRunsOnTheOwner) {
    HWND window =
        CreateWindowExA(0, "STATIC", "owner", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    struct Shared {
        HWND window;
        LRESULT length = 0;
    } shared{window};
    HANDLE sender = CreateThread(
        nullptr, 0,
        [](LPVOID p) -> DWORD {
            auto* s = static_cast<Shared*>(p);
            s->length = SendMessageA(s->window, WM_GETTEXTLENGTH, 0, 0);
            PostMessageA(s->window, WM_USER, 0, 0);
            return 0;
        },
        &shared, 0, nullptr);
    MSG msg;
    ASSERT_EQ(GetMessageA(&msg, window, 0, 0), TRUE);  // serves the send, then the post
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER));
    WaitForSingleObject(sender, INFINITE);
    CloseHandle(sender);
    EXPECT_EQ(shared.length, 5);
    DestroyWindow(window);
}

// Two threads that send to each other's windows at the same time both get their answers.
TEST(PlatformMessages, CrossedSendsDoNotWaitForEver) {
    HWND mine =
        CreateWindowExA(0, "STATIC", "main", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    struct Shared {
        HWND mine;
        std::atomic<HWND> theirs{nullptr};
        LRESULT answer = 0;
    } shared;
    shared.mine = mine;
    HANDLE other = CreateThread(
        nullptr, 0,
        [](LPVOID p) -> DWORD {
            auto* s = static_cast<Shared*>(p);
            HWND theirs = CreateWindowExA(0, "STATIC", "worker", 0, 0, 0, 1, 1, nullptr, nullptr,
                                          nullptr, nullptr);
            s->theirs = theirs;
            s->answer = SendMessageA(s->mine, WM_GETTEXTLENGTH, 0, 0);
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            }
            DestroyWindow(theirs);
            return 0;
        },
        &shared, 0, nullptr);
    while (shared.theirs.load() == nullptr) {
        Sleep(1);
    }
    EXPECT_EQ(SendMessageA(shared.theirs, WM_GETTEXTLENGTH, 0, 0), 6);
    // The worker's send may still wait for this thread to look at its queue.
    const Clock::time_point limit = Clock::now() + 5s;
    MSG msg;
    while (WaitForSingleObject(other, 1) == WAIT_TIMEOUT && Clock::now() < limit) {
        PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE);
    }
    EXPECT_EQ(WaitForSingleObject(other, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    CloseHandle(other);
    EXPECT_EQ(shared.answer, 4);
    DestroyWindow(mine);
}

// The seam for an on-screen toolkit: it hears of window life and text, and the GUI thread's
// wait for messages runs the toolkit's event pump, which a post from elsewhere wakes.
class RecordingDisplay : public platform::DisplayBackend {
  public:
    explicit RecordingDisplay(DWORD guiThread) : guiThread_(guiThread) {}
    void WindowCreated(const platform::WindowInfo& info) override { Log("created", info.window); }
    void WindowDestroyed(HWND window) override { Log("destroyed", window); }
    void WindowShown(HWND window, bool visible) override {
        Log(visible ? "shown" : "hidden", window);
    }
    void TextChanged(HWND window, const std::string& text) override { Log("text " + text, window); }
    bool IsGuiThread() const override { return GetCurrentThreadId() == guiThread_; }
    void PumpEvents(std::chrono::steady_clock::time_point deadline) override {
        std::unique_lock<std::mutex> lock(mutex_);
        ++pumps_;
        // Never longer than 2 s, so a lost wake-up shows as a slow test, not a hang.
        woken_.wait_until(lock, std::min(deadline, Clock::now() + 2s), [&] { return wake_; });
        wake_ = false;
    }
    void Wake() override {
        std::lock_guard<std::mutex> lock(mutex_);
        wake_ = true;
        woken_.notify_all();
    }
    // What the backend heard about one window.
    std::vector<std::string> Log(HWND window) {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::string> about;
        for (const auto& [what, subject] : log_) {
            if (subject == window) {
                about.push_back(what);
            }
        }
        return about;
    }
    int Pumps() {
        std::lock_guard<std::mutex> lock(mutex_);
        return pumps_;
    }

  private:
    void Log(const std::string& what, HWND window) {
        std::lock_guard<std::mutex> lock(mutex_);
        log_.emplace_back(what, window);
    }
    DWORD guiThread_;
    std::mutex mutex_;
    std::condition_variable woken_;
    bool wake_ = false;
    int pumps_ = 0;
    std::vector<std::pair<std::string, HWND>> log_;
};

TEST(PlatformDisplaySeam, BackendHearsOfWindowsAndItsPumpIsWokenByPosts) {
    RecordingDisplay display(GetCurrentThreadId());
    platform::SetDisplayBackend(&display);
    HWND window = CreateWindowExA(0, "STATIC", "status", WS_POPUP | WS_VISIBLE, 0, 0, 240, 80,
                                  nullptr, nullptr, nullptr, nullptr);
    SetWindowTextA(window, "row");
    ShowWindow(window, SW_HIDE);
    HANDLE poster = CreateThread(
        nullptr, 0,
        [](LPVOID p) -> DWORD {
            Sleep(50);
            PostMessageA(static_cast<HWND>(p), WM_USER, 42, 0);
            return 0;
        },
        window, 0, nullptr);
    const Clock::time_point asked = Clock::now();
    MSG msg;
    ASSERT_EQ(GetMessageA(&msg, window, 0, 0), TRUE);
    EXPECT_EQ(msg.wParam, 42u);
    EXPECT_LT(Clock::now() - asked, 1s) << "the post did not wake the toolkit's pump";
    EXPECT_GE(display.Pumps(), 1) << "the GUI thread waited without serving the toolkit";
    WaitForSingleObject(poster, INFINITE);
    CloseHandle(poster);
    DestroyWindow(window);
    platform::SetDisplayBackend(nullptr);
    EXPECT_EQ(display.Log(window),
              (std::vector<std::string>{"created", "shown", "text row", "hidden", "destroyed"}));
}

}  // namespace
