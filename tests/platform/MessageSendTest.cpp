// Sending messages between threads: the send runs on the window's own thread, and two threads
// that send to each other's windows at once both get their answers.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <platform/window.h>

using namespace std::chrono_literals;

namespace {

HWND Window(const char* text) {
    return CreateWindowExA(0, "STATIC", text, 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
}

TEST(PlatformMessages, SendFromAnotherThreadRunsOnTheOwner) {
    HWND window = Window("owner");
    LRESULT length = 0;
    std::thread sender([&] {
        length = SendMessageA(window, WM_GETTEXTLENGTH, 0, 0);
        PostMessageA(window, WM_USER, 0, 0);
    });
    MSG msg;
    EXPECT_EQ(GetMessageA(&msg, window, 0, 0), TRUE);  // serves the send, then the post
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER));
    sender.join();
    EXPECT_EQ(length, 5);
    DestroyWindow(window);
}

TEST(PlatformMessages, CrossedSendsDoNotWaitForEver) {
    HWND mine = Window("main");
    std::atomic<HWND> theirs{nullptr};
    std::atomic<LRESULT> answer{-1};
    std::thread other([&] {
        HWND window = Window("worker");
        theirs = window;
        answer = SendMessageA(mine, WM_GETTEXTLENGTH, 0, 0);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
        DestroyWindow(window);
    });
    while (theirs.load() == nullptr) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(SendMessageA(theirs, WM_GETTEXTLENGTH, 0, 0), 6);
    // The worker's send may still wait for this thread to look at its queue.
    MSG msg;
    for (auto limit = std::chrono::steady_clock::now() + 5s;
         answer == -1 && std::chrono::steady_clock::now() < limit;) {
        PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE);
    }
    // A failure aborts the program here rather than wait for `other` for ever.
    ASSERT_EQ(answer, 4) << "the crossed sends wait for each other";
    other.join();
    DestroyWindow(mine);
}

}  // namespace
