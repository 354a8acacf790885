#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "apps/play/CommandLine.h"
#include "apps/play/Usage.h"

namespace {

std::string Message(const std::string& input, bool* showBytes = nullptr) {
    std::string text = input;
    CommandLine line(text.data());
    return BuildOptionMessage(line, showBytes);
}

TEST(OptionCheck, UsageTextIsTheFixed631Characters) {
    EXPECT_EQ(UsageText().size(), 631u);
    EXPECT_EQ(UsageText().rfind("eg., Quindle64.exe /D:\"1 - QDL7310 /04\" test.wav /H\n"),
              UsageText().size() - 52);
}

TEST(OptionCheck, MessagesByteForByte) {
    const std::string usage = UsageText();
    const std::string missing = "Missing required parameter: <filename>.\n";
    struct Case {
        std::string input;
        std::string message;
    };
    const Case cases[] = {
        {"a.wav", ""},
        {"/h -l /d:1 /P:5 /S:abc /T /I:0,1,2 /E /B a.wav", ""},
        {"", missing + "\n" + usage},
        {"a.wav b.wav", missing + "\n" + usage},
        {"/X a.wav", "Unknown option /X\n\n" + usage},
        {"/x:1 a.wav", "Unknown option /X:1\n\n" + usage},
        {"/X: a.wav", "Unknown option /X\n\n" + usage},
        {"/X /Y:2", missing + "Unknown option /X\nUnknown option /Y:2\n\n" + usage},
        {"- a.wav", "Unknown option /\n\n" + usage},
        // A letter beyond ASCII is reported whole, never half a UTF-8 character.
        {"/\xC3\x89 a.wav", "Unknown option /\xC3\x89\n\n" + usage},
        {"-\xC3\xA9:1 a.wav", "Unknown option /\xC3\xA9:1\n\n" + usage},
        {"/\xE2\x82\xAC: a.wav", "Unknown option /\xE2\x82\xAC\n\n" + usage},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Message(c.input), c.message) << '[' << c.input << ']';
    }
}

TEST(OptionCheck, OptionBShowsBytes) {
    bool showBytes = false;
    EXPECT_EQ(Message("a.wav", &showBytes), "");
    EXPECT_FALSE(showBytes);
    EXPECT_EQ(Message("/b a.wav", &showBytes), "");
    EXPECT_TRUE(showBytes);
}

TEST(LoopSchedule, ParsingTable) {
    struct Case {
        bool present;
        const char* value;
        bool enabled;
        int32_t first, limit, step;
    };
    const Case cases[] = {
        {false, nullptr, false, 0, 0, 0},
        {true, nullptr, false, 0, 0, 0},  // /I without a value: no schedule
        {true, "0,1000,250", true, 0, 1000, 250},
        {true, "-1,5000,100", false, -1, 5000, 100},
        {true, "500", true, 500, 0, 0},
        {true, "500,x,7", true, 500, 0, 0},  // reading stops at the first bad field
        {true, "abc", true, 0, 0, 0},
        {true, " 7, 8,-9", true, 7, 8, -9},
        {true, "99999999999,1,1", true, INT32_MAX, 1, 1},
    };
    for (const Case& c : cases) {
        const LoopDelay delay = ParseLoopDelay(c.present, c.value);
        const char* shown = c.value != nullptr ? c.value : "(none)";
        EXPECT_EQ(delay.enabled, c.enabled) << shown;
        EXPECT_EQ(delay.first, c.first) << shown;
        EXPECT_EQ(delay.limit, c.limit) << shown;
        EXPECT_EQ(delay.step, c.step) << shown;
        EXPECT_EQ(delay.current, c.first) << shown;
    }
}

TEST(LoopSchedule, PauseSequences) {
    struct Case {
        const char* value;
        std::vector<int32_t> pauses;
    };
    const Case cases[] = {
        {"0,1000,250", {0, 250, 500, 750, 1000, 0, 250}},
        {"500,2000,500", {500, 1000, 1500, 2000, 500, 1000}},
        {"0,400,200", {0, 200, 400, 0, 200}},
        {"300,100,50", {300, 300, 300}},  // limit below first + step: constant
        {"300,1000,0", {300, 300, 300}},
        {"100,1000,-100", {100, 0, 0, 0}},  // negative pauses are no pause
        {"0,2147483647,1073741824", {0, 1073741824, 0, 1073741824}},  // sum would overflow
    };
    for (const Case& c : cases) {
        LoopDelay delay = ParseLoopDelay(true, c.value);
        std::vector<int32_t> pauses;
        for (size_t i = 0; i < c.pauses.size(); ++i) {
            pauses.push_back(NextLoopPause(&delay));
        }
        EXPECT_EQ(pauses, c.pauses) << c.value;
    }
    LoopDelay off = ParseLoopDelay(true, "-5,10,1");
    EXPECT_EQ(NextLoopPause(&off), 0);
}

}  // namespace
