// The applet's command line: words and options, the option check, the pause schedule and the
// device-name match.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "apps/play/CommandLine.h"
#include "apps/play/DeviceMatch.h"
#include "apps/play/Usage.h"

namespace {

using Options = std::vector<std::pair<char, std::string>>;  // value "-" when absent
using Arguments = std::vector<std::string>;

void Expect(const CommandLine& line, const Options& options, const Arguments& arguments,
            const std::string& shown) {
    Options gotOptions;
    char letter = 0;
    const char* value = nullptr;
    for (uint32_t i = 0; line.OptionAt(i, &letter, &value); ++i) {
        gotOptions.emplace_back(letter, value != nullptr ? value : "-");
    }
    Arguments gotArguments;
    for (uint32_t i = 0; i < line.ArgumentCount(); ++i) {
        gotArguments.emplace_back(line.ArgumentAt(i));
    }
    EXPECT_EQ(gotOptions, options) << '[' << shown << ']';
    EXPECT_EQ(gotArguments, arguments) << '[' << shown << ']';
    EXPECT_EQ(line.ArgumentAt(line.ArgumentCount()), nullptr);
}

TEST(CommandLine, TokenizerTable) {
    struct Case {
        std::string input;
        Options options;
        Arguments arguments;
    };
    const Case cases[] = {
        {"   ", {}, {}},
        {"/D:\"1 - QDL7310 /04\" test.wav /H",
         {{'D', "1 - QDL7310 /04"}, {'H', "-"}},
         {"test.wav"}},
        {"my\" \"file.wav", {}, {"my file.wav"}},  // quotes mid-item removed, blank kept
        {"a\tb.wav", {}, {"a\tb.wav"}},            // a tab never separates
        {"\"unbalanced a b", {}, {"unbalanced a b"}},
        {"/X:abc /X: /Xabc -s:1", {{'X', "abc"}, {'X', ""}, {'X', "-"}, {'S', "1"}}, {}},
        {"/home/ann/a.wav /E/ /D:a/b", {{'D', "a/b"}}, {"/home/ann/a.wav", "/E/"}},
        {"/ -", {{'\0', "-"}, {'\0', "-"}}, {}},
        {"/é", {{'\xC3', "-"}}, {}},  // only ASCII letters are upper-cased
    };
    for (const Case& c : cases) {
        std::string text = c.input;  // the parser rewrites its text in place
        Expect(CommandLine(text.data()), c.options, c.arguments, c.input);
    }
    std::string text = "/S:50 /s:200 /h /P:99999999999 /Q";
    CommandLine line(text.data());
    const char* value = nullptr;
    EXPECT_TRUE(line.FindOption('s', &value));
    EXPECT_STREQ(value, "50");  // the first occurrence, in any case
    int32_t number = 1234;
    EXPECT_TRUE(line.FindOptionInt('p', &number));
    EXPECT_EQ(number, INT32_MAX);  // clamped, not wrapped
    number = 1234;
    EXPECT_FALSE(line.FindOptionInt('Q', &number));  // no value: the caller's default stays
    EXPECT_EQ(number, 1234);
}

// Words from the shell: each is one item, byte for byte, never rewritten; only its first
// characters decide whether it is an option.
TEST(CommandLine, EachWordIsExactlyOneItem) {
    struct Case {
        std::vector<std::string> words;
        Options options;
        Arguments arguments;
        std::vector<std::string> spellings;
    };
    const Case cases[] = {
        {{"/H", "q\"x.wav", " a\tb .wav ", "", "/home/ann/my \"best\" take.wav", "//x.wav"},
         {{'H', "-"}},
         {"q\"x.wav", " a\tb .wav ", "", "/home/ann/my \"best\" take.wav", "//x.wav"},
         {"H"}},
        {{"/D:\"Null Output\"", "-x:\"a b\""},
         {{'D', "\"Null Output\""}, {'X', "\"a b\""}},
         {},
         {"D", "x"}},
        {{"/D:1 - QDL7310 /04", "/LX"}, {{'D', "1 - QDL7310 /04"}, {'L', "-"}}, {}, {"D", "L"}},
        // A letter beyond ASCII is one whole UTF-8 character; a stray byte stands alone.
        {{"/\xC3\x89:a/b", "/\xE2\x99\xAA/x", "/\xFF:1"},
         {{'\xC3', "a/b"}, {'\xFF', "1"}},
         {"/\xE2\x99\xAA/x"},
         {"\xC3\x89", "\xFF"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> words = c.words;
        std::vector<char*> argv;
        for (std::string& word : words) {
            argv.push_back(word.data());
        }
        const CommandLine line(static_cast<int>(argv.size()), argv.data());
        Expect(line, c.options, c.arguments, c.words[0]);
        std::vector<std::string> spellings;
        for (uint32_t i = 0; i < line.OptionCount(); ++i) {
            spellings.emplace_back(line.OptionSpelling(i));
        }
        EXPECT_EQ(spellings, c.spellings) << c.words[0];
        EXPECT_EQ(words, c.words) << "the words are not rewritten";
    }
}

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

TEST(DeviceMatch, SelectionTable) {
    const std::string longQuery(40, 'q');
    struct Case {
        std::vector<std::string> names;
        const char* text;
        int32_t device;
    };
    const Case cases[] = {
        {{"SPEAKERS (A)", "LINE OUT"}, "out", 1},
        {{"OUT 12", "OUT 1"}, "out 1", 1},  // an exact name beats a longer one containing it
        {{"XAB", "AB CD"}, "ab", 1},        // a text that begins a name beats one contained
        {{"A", "B", "C"}, "2", 2},
        {{"A", "B", "3D SOUND"}, "3", 2},  // a number at or above the count is a name
        {{"A", "B"}, " 1", 1},             // leading blanks are read as part of a number
        {{"A", "B"}, "", 0},               // an empty text is the number 0
        {{}, "", -1},
        {{"A"}, "4294967296", -1},  // clamped as a 32-bit number, not wrapped to 0
        {{"A", std::string(31, 'Q')}, longQuery.c_str(), 1},  // the text is cut to 31 bytes
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MatchDevice(c.names, c.text), c.device) << '[' << c.text << ']';
    }
}

TEST(DeviceMatch, ListTextIsBoundedTo4096Bytes) {
    EXPECT_EQ(DeviceListText(std::vector<std::string>(300, std::string(31, 'N'))).size(),
              kDeviceListBound - 1);
    // 102 devices with the longest names fit whole.
    const std::string whole = DeviceListText(std::vector<std::string>(102, std::string(31, 'N')));
    const std::string lastLine = "101 - \"" + std::string(31, 'N') + "\"\r\n";
    EXPECT_EQ(whole.substr(whole.size() - lastLine.size()), lastLine);
}

}  // namespace
