// Sending messages between threads: the send runs on the window's own thread, and two threads
// that send to each other at once both get their answers.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include <platform/kernel.h>
#include <platform/window.h>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

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

}  // namespace
