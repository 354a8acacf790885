// Message queues across threads without a display.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include <platform/kernel.h>
#include <platform/window.h>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

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
