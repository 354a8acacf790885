#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "apps/play/CommandLine.h"
#include "apps/play/Usage.h"

namespace {

TEST(OptionCheck, MessagesAndOptionB) {
    const std::string usage = UsageText();
    const std::string missing = "Missing required parameter: <filename>.\n";
    struct Case {
        std::string input;
        std::string message;
        bool showBytes;
    };
    const Case cases[] = {
        {"/h -l /d:1 /P:5 /S:abc /T /I:0,1,2 /E a.wav", "", false},
        {"/b a.wav", "", true},
        {"a.wav b.wav", missing + "\n" + usage, false},
        {"/X /y:2 /Z:",
         missing + "Unknown option /X\nUnknown option /Y:2\nUnknown option /Z\n\n" + usage, false},
        {"- a.wav", "Unknown option /\n\n" + usage, false},
        // A letter beyond ASCII is reported whole, never half a UTF-8 character.
        {"-\xC3\xA9:1 a.wav", "Unknown option /\xC3\xA9:1\n\n" + usage, false},
    };
    for (const Case& c : cases) {
        std::string text = c.input;
        bool showBytes = false;
        EXPECT_EQ(BuildOptionMessage(CommandLine(text.data()), &showBytes), c.message) << c.input;
        EXPECT_EQ(showBytes, c.showBytes) << c.input;
    }
}

TEST(LoopSchedule, PauseSequences) {
    struct Case {
        const char* value;
        std::vector<int32_t> pauses;
    };
    const Case cases[] = {
        {nullptr, {0, 0}},  // /I without a value: no schedule
        {"500,2000,500", {500, 1000, 1500, 2000, 500, 1000}},
        {"0,400,200", {0, 200, 400, 0, 200}},
        {"300,100,50", {300, 300, 300}},    // limit below first + step: constant
        {"100,1000,-100", {100, 0, 0, 0}},  // negative pauses are no pause
        {"-5,10,1", {0, 0}},                // a negative start: no schedule
        {"500,x,7", {500, 500}},            // reading stops at the first bad field
        {" 7, 8,-9", {7, 0}},
        {"0,2147483647,1073741824", {0, 1073741824, 0, 1073741824}},  // sum would overflow
    };
    for (const Case& c : cases) {
        LoopDelay delay = ParseLoopDelay(true, c.value);
        std::vector<int32_t> pauses;
        for (size_t i = 0; i < c.pauses.size(); ++i) {
            pauses.push_back(NextLoopPause(&delay));
        }
        EXPECT_EQ(pauses, c.pauses) << (c.value ? c.value : "-");
    }
}

}  // namespace
