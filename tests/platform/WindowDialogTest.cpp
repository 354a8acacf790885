// Dialogs, message boxes, fonts, placement and the terminal backend, without a display.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include <platform/dialog.h>
#include <platform/gdi.h>
#include <platform/resources.h>
#include <platform/window.h>
#include "platform/window/TextLayout.h"
#include "platform/window/headless/HeadlessBackend.h"
#include "support/RecordingDisplay.h"

namespace {

using testsupport::RecordingDisplay;

TEST(TextLayout, LinesAndTabStops) {
    struct Piece {
        int x;
        int line;
        std::string text;
    };
    struct Case {
        std::string text;
        std::vector<Piece> pieces;
        int width;
        int lines;
    };
    // Every byte is 5 pixels wide; tab stops every 40 pixels.
    const Case cases[] = {
        {"", {}, 0, 1},
        {"abc", {{0, 0, "abc"}}, 15, 1},
        {"abc\n", {{0, 0, "abc"}}, 15, 1},
        {"a\r\nb", {{0, 0, "a"}, {0, 1, "b"}}, 5, 2},
        {"\tD\tdevice", {{40, 0, "D"}, {80, 0, "device"}}, 110, 1},
        {"\t\tpartial", {{80, 0, "partial"}}, 115, 1},
        // A piece that reaches a tab stop goes on to the next one.
        {"12345678\tx", {{0, 0, "12345678"}, {80, 0, "x"}}, 85, 1},
        {"a\n\nb\n", {{0, 0, "a"}, {0, 2, "b"}}, 5, 3},
        {"x\t", {{0, 0, "x"}}, 40, 1},
    };
    const Case wrapped[] = {
        // 20 bytes fit in 100 pixels: lines break between words, blanks at a break vanish.
        {"aaaa bbbb cccc dddd eeee",
         {{0, 0, "aaaa"}, {20, 0, " bbbb"}, {45, 0, " cccc"}, {70, 0, " dddd"}, {0, 1, "eeee"}},
         95,
         2},
        {"short", {{0, 0, "short"}}, 25, 1},
        // A word wider than the line stays whole on a line of its own.
        {"a /home/ann/a-very-long-file-name.wav",
         {{0, 0, "a"}, {0, 1, "/home/ann/a-very-long-file-name.wav"}},
         175,
         2},
        // A word that passes the edge after a tab starts the next line.
        {"\tD\tdevice name or number",
         {{40, 0, "D"}, {0, 1, "device"}, {30, 1, " name"}, {55, 1, " or"}, {0, 2, "number"}},
         80,
         3},  // the tab's advance counts, as for "x\t"
    };
    auto check = [](const Case& c, int maxWidth) {
        SCOPED_TRACE(c.text);
        const platform::TextLayout layout = platform::LayOutText(
            c.text, 40, maxWidth,
            [](std::string_view piece) { return static_cast<int>(piece.size()) * 5; });
        ASSERT_EQ(layout.pieces.size(), c.pieces.size());
        for (size_t i = 0; i < c.pieces.size(); ++i) {
            EXPECT_EQ(layout.pieces[i].x, c.pieces[i].x);
            EXPECT_EQ(layout.pieces[i].line, c.pieces[i].line);
            EXPECT_EQ(layout.pieces[i].text, c.pieces[i].text);
        }
        EXPECT_EQ(layout.width, c.width);
        EXPECT_EQ(layout.lines, c.lines);
    };
    for (const Case& c : cases) {
        check(c, 0);
    }
    for (const Case& c : wrapped) {
        check(c, 100);
    }
}

// A template like the device list: a default OK button and a read-only edit box.
const ResourceDialogItem kItems[] = {
    {"BUTTON", IDOK, "OK", 252, 232, 50, 14, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON},
    {"EDIT", 1000, "", 7, 7, 295, 216,
     WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_READONLY},
};
const ResourceDialog kDialogs[] = {
    {131, "Dialog", 0, 0, 309, 253, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT,
     "MS Shell Dlg", 8, 400, 0, 1, kItems, 2},
};
const ModuleResources kModule = {nullptr, 0, nullptr, 0, kDialogs, 1};

HINSTANCE Module() {
    static HINSTANCE instance = RegisterModuleResources(&kModule);
    return instance;
}

struct DialogRun {
    std::vector<UINT> messages;
    LPARAM initParam = 0;
    RECT okRect{};
    RECT editRect{};
    INT_PTR endWith = -2;  // -2: leave the dialog running
    bool endOnOk = true;
};
DialogRun* run = nullptr;

INT_PTR RecordingProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    run->messages.push_back(message);
    if (message == WM_INITDIALOG) {
        run->initParam = lParam;
        GetWindowRect(GetDlgItem(dialog, IDOK), &run->okRect);
        GetWindowRect(GetDlgItem(dialog, 1000), &run->editRect);
        SetDlgItemTextA(dialog, 1000, "Device list:\r\n0 - \"A\"\r\n");
        if (run->endWith != -2) {
            EndDialog(dialog, run->endWith);
        }
        return TRUE;
    }
    if (message == WM_COMMAND && LOWORD(wParam) == IDOK && run->endOnOk) {
        EndDialog(dialog, 7);
    }
    return FALSE;
}

TEST(Dialogs, WithoutScreenTheTemplateIsLaidOutShownToTheBackendAndEndsByItsDefaultButton) {
    RecordingDisplay display;
    struct Case {
        INT_PTR endWith;
        bool endOnOk;
        INT_PTR result;
    };
    // Ended in WM_INITDIALOG; ended by the default button; a procedure that never ends it.
    for (const Case c : {Case{3, true, 3}, Case{-2, true, 7}, Case{-2, false, IDOK}}) {
        DialogRun record;
        record.endWith = c.endWith;
        record.endOnOk = c.endOnOk;
        run = &record;
        display.modals.clear();
        display.fonts.clear();
        EXPECT_EQ(DialogBoxParamA(Module(), MAKEINTRESOURCEA(131), nullptr, RecordingProc, 42),
                  c.result);
        EXPECT_EQ(record.initParam, 42);
        // Dialog units with 6 x 13 base units: x * 6 / 4, y * 13 / 8, rounded.
        EXPECT_EQ(record.okRect.left, 378);
        EXPECT_EQ(record.okRect.top, 377);
        EXPECT_EQ(record.okRect.right, 453);
        EXPECT_EQ(record.okRect.bottom, 400);
        EXPECT_EQ(record.editRect.left, 11);
        EXPECT_EQ(record.editRect.top, 11);
        EXPECT_EQ(record.editRect.right, 454);
        EXPECT_EQ(record.editRect.bottom, 362);
        ASSERT_EQ(display.modals.size(), 1u);
        const RecordingDisplay::Modal& modal = display.modals[0];
        EXPECT_EQ(modal.kind, platform::ModalKind::Dialog);
        EXPECT_EQ(modal.caption, "Dialog");
        ASSERT_EQ(modal.controls.size(), 2u);
        EXPECT_EQ(modal.controls[1].first, "EDIT");
        EXPECT_EQ(modal.controls[1].second, "Device list:\r\n0 - \"A\"\r\n");
        // Both controls got the template's font: 8 points at 96 dots per inch.
        ASSERT_EQ(display.fonts.size(), 2u);
        EXPECT_EQ(display.fonts[0].second.faceName, "MS Shell Dlg");
        EXPECT_EQ(display.fonts[0].second.height, -11);
        run = nullptr;
    }
    EXPECT_EQ(DialogBoxParamA(Module(), MAKEINTRESOURCEA(999), nullptr, RecordingProc, 0), -1);
}

int otherMessages = 0;
LRESULT CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP || message == WM_TIMER) {
        ++otherMessages;
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// On a screen the dialog's loop keeps serving the thread's other windows (posted messages
// and timers) until a click, here posted from another thread, ends it.
TEST(Dialogs, TheModalLoopDispatchesOtherMessagesUntilTheDialogEnds) {
    RecordingDisplay display;
    display.screen = true;
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = CountingProc;
    windowClass.hInstance = Module();
    windowClass.lpszClassName = "ModalLoopOther";
    RegisterClassExA(&windowClass);
    HWND other = CreateWindowExA(0, "ModalLoopOther", "", 0, 0, 0, 10, 10, nullptr, nullptr,
                                 Module(), nullptr);
    ASSERT_NE(other, nullptr);
    otherMessages = 0;
    PostMessageA(other, WM_APP, 0, 0);
    SetTimer(other, 1, 10, nullptr);

    DialogRun record;
    run = &record;
    static std::atomic<HWND> dialogWindow{nullptr};
    dialogWindow = nullptr;
    record.messages.clear();
    std::thread clicker([] {
        for (int i = 0; i < 500 && dialogWindow.load() == nullptr; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        PostMessageA(dialogWindow.load(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    });
    auto proc = [](HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) -> INT_PTR {
        if (message == WM_INITDIALOG) {
            dialogWindow = dialog;
        }
        return RecordingProc(dialog, message, wParam, lParam);
    };
    EXPECT_EQ(DialogBoxParamA(Module(), MAKEINTRESOURCEA(131), nullptr, proc, 0), 7);
    clicker.join();
    EXPECT_GE(otherMessages, 3);  // the posted message and several timer ticks
    EXPECT_FALSE(IsWindow(dialogWindow.load()));
    KillTimer(other, 1);
    DestroyWindow(other);
    run = nullptr;
}

TEST(Dialogs, AQuitMessageEndsTheModalLoopAndIsPostedAgain) {
    RecordingDisplay display;
    display.screen = true;
    DialogRun record;
    record.endOnOk = false;
    run = &record;
    PostQuitMessage(5);
    EXPECT_EQ(DialogBoxParamA(Module(), MAKEINTRESOURCEA(131), nullptr, RecordingProc, 0), 0);
    MSG message;
    EXPECT_EQ(GetMessageA(&message, nullptr, 0, 0), FALSE);
    EXPECT_EQ(message.wParam, 5u);
    run = nullptr;
}

TEST(Dialogs, OffTheScreenThreadADialogEndsAtOnceInsteadOfWaitingForever) {
    RecordingDisplay display;
    display.screen = true;
    INT_PTR result = 0;
    std::thread worker([&] {
        DialogRun record;
        record.endOnOk = false;
        run = &record;
        result = DialogBoxParamA(Module(), MAKEINTRESOURCEA(131), nullptr, RecordingProc, 0);
        run = nullptr;
    });
    worker.join();
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(display.modals.size(), 1u);
}

TEST(MessageBox, WithoutScreenTheBackendGetsCaptionAndTextAndOkComesBackAtOnce) {
    RecordingDisplay display;
    EXPECT_EQ(MessageBoxA(nullptr, "line 1\n\tcolumn\n", "Caption", MB_OK), IDOK);
    ASSERT_EQ(display.modals.size(), 1u);
    EXPECT_EQ(display.modals[0].kind, platform::ModalKind::MessageBox);
    EXPECT_EQ(display.modals[0].caption, "Caption");
    ASSERT_EQ(display.modals[0].controls.size(), 2u);
    EXPECT_EQ(display.modals[0].controls[0],
              std::make_pair(std::string("STATIC"), std::string("line 1\n\tcolumn\n")));
    EXPECT_EQ(display.modals[0].controls[1],
              std::make_pair(std::string("BUTTON"), std::string("OK")));
}

TEST(Fonts, CreateDescribeAndDelete) {
    HFONT font = CreateFontA(16, 8, 0, 0, 0, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH, "Courier New");
    ASSERT_NE(font, nullptr);
    const platform::FontInfo* info = platform::FontOf(font);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->height, 16);
    EXPECT_EQ(info->width, 8);
    EXPECT_TRUE(info->fixedPitch);
    EXPECT_EQ(info->faceName, "Courier New");
    HWND edit = CreateWindowExA(0, "EDIT", "", WS_VISIBLE, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                                nullptr);
    SendMessageA(edit, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    EXPECT_EQ(SendMessageA(edit, WM_GETFONT, 0, 0), reinterpret_cast<LRESULT>(font));
    DestroyWindow(edit);
    EXPECT_TRUE(DeleteObject(font));
    EXPECT_FALSE(DeleteObject(font));
    EXPECT_EQ(platform::FontOf(font), nullptr);
}

LRESULT PlainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

TEST(Placement, ClientAreaDesktopMovesAndTheSearchForTopLevelWindows) {
    RecordingDisplay display;
    display.frame = RECT{3, 22, 3, 3};
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = PlainProc;
    windowClass.hInstance = Module();
    windowClass.lpszClassName = "PlacementTest";
    RegisterClassExA(&windowClass);

    RECT rect{};
    ASSERT_TRUE(GetWindowRect(GetDesktopWindow(), &rect));
    EXPECT_EQ(rect.right, 1280);
    EXPECT_EQ(rect.bottom, 1024);

    HWND window = CreateWindowExA(0, "PlacementTest", "Title", WS_CAPTION | WS_SYSMENU, 10, 20, 240,
                                  100, nullptr, nullptr, Module(), nullptr);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(GetClientRect(window, &rect));
    EXPECT_EQ(rect.right, 234);
    EXPECT_EQ(rect.bottom, 75);
    HWND child = CreateWindowExA(0, "STATIC", "row", WS_CHILD | WS_VISIBLE, 0, 0, 240, 20, window,
                                 nullptr, Module(), nullptr);
    ASSERT_TRUE(GetClientRect(child, &rect));  // controls have no frame
    EXPECT_EQ(rect.right, 240);
    EXPECT_EQ(rect.bottom, 20);

    ASSERT_TRUE(SetWindowPos(window, nullptr, 0, 0, 246, 105, SWP_NOMOVE | SWP_NOZORDER));
    GetWindowRect(window, &rect);
    EXPECT_EQ(rect.left, 10);
    EXPECT_EQ(rect.top, 20);
    EXPECT_EQ(rect.right, 256);
    EXPECT_EQ(rect.bottom, 125);
    ASSERT_TRUE(SetWindowPos(window, nullptr, 30, 40, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW));
    GetWindowRect(window, &rect);
    EXPECT_EQ(rect.left, 30);
    EXPECT_EQ(rect.right, 276);
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_TRUE(UpdateWindow(window));

    // This process's windows by class (any letter case) and title, hidden or not; then
    // other programs'.
    ShowWindow(window, SW_HIDE);
    EXPECT_EQ(FindWindowA("placementtest", nullptr), window);
    EXPECT_EQ(FindWindowA("PlacementTest", "Title"), window);
    EXPECT_EQ(FindWindowA("PlacementTest", "Other"), nullptr);
    EXPECT_EQ(FindWindowA("STATIC", nullptr), nullptr);  // a control is not top-level
    display.foreignClass = "Elsewhere";
    display.foreignRect = RECT{5, 6, 245, 86};
    HWND foreign = FindWindowA("Elsewhere", nullptr);
    ASSERT_NE(foreign, nullptr);
    ASSERT_TRUE(GetWindowRect(foreign, &rect));
    EXPECT_EQ(rect.left, 5);
    EXPECT_EQ(rect.bottom, 86);
    EXPECT_EQ(FindWindowA("Nowhere", nullptr), nullptr);

    // The close box: WM_SYSCOMMAND(SC_CLOSE) becomes WM_CLOSE, which destroys the window.
    SendMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(IsWindow(child));
}

std::string ReadAll(FILE* file) {
    std::rewind(file);
    std::string text;
    char buffer[512];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        text.append(buffer, n);
    }
    return text;
}

TEST(HeadlessBackend, BoxesToTheErrorStreamListsToTheOutputAndOneStatusLine) {
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    ASSERT_NE(out, nullptr);
    ASSERT_NE(err, nullptr);
    {
        platform::HeadlessBackend headless(out, err, true);
        platform::SetDisplayBackend(&headless);
        EXPECT_EQ(MessageBoxA(nullptr, "Text\twith tab\n", "Caption", MB_OK), IDOK);
        EXPECT_EQ(MessageBoxA(nullptr, "No newline", "Starting Error", MB_OK), IDOK);
        DialogRun record;
        run = &record;
        EXPECT_EQ(DialogBoxParamA(Module(), MAKEINTRESOURCEA(131), nullptr, RecordingProc, 0), 7);
        run = nullptr;

        WNDCLASSEXA windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = PlainProc;
        windowClass.hInstance = Module();
        windowClass.lpszClassName = "HeadlessStatus";
        RegisterClassExA(&windowClass);
        HWND window = CreateWindowExA(0, "HeadlessStatus", "", WS_CAPTION, 0, 0, 240, 80, nullptr,
                                      nullptr, Module(), nullptr);
        HWND device = CreateWindowExA(0, "STATIC", "Device", WS_CHILD | WS_VISIBLE, 0, 0, 240, 20,
                                      window, nullptr, Module(), nullptr);
        CreateWindowExA(0, "STATIC", "Position", WS_CHILD | WS_VISIBLE, 0, 20, 240, 20, window,
                        nullptr, Module(), nullptr);
        SetWindowTextA(device, "hidden: not drawn");
        ShowWindow(window, SW_SHOW);
        SetWindowTextA(device, "Test Sink");
        DestroyWindow(window);
        platform::SetDisplayBackend(nullptr);
    }
    EXPECT_EQ(ReadAll(err),
              "Caption: Text\twith tab\n"
              "Starting Error: No newline\n"
              "\rhidden: not drawn | Position\033[K"
              "\rTest Sink | Position\033[K\n");
    EXPECT_EQ(ReadAll(out), "Device list:\n0 - \"A\"\n");
    std::fclose(out);
    std::fclose(err);
}

}  // namespace
