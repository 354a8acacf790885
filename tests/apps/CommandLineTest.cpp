#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "apps/play/CommandLine.h"

namespace {

struct Parsed {
    std::vector<std::pair<char, std::string>> options;  // value "<none>" when absent
    std::vector<std::string> arguments;
};

Parsed Parse(const std::string& input) {
    std::string text = input;  // the parser rewrites its text in place
    CommandLine line(text.data());
    Parsed parsed;
    char letter = 0;
    const char* value = nullptr;
    for (uint32_t i = 0; line.OptionAt(i, &letter, &value); ++i) {
        parsed.options.emplace_back(letter, value != nullptr ? value : "<none>");
    }
    for (uint32_t i = 0; i < line.ArgumentCount(); ++i) {
        parsed.arguments.emplace_back(line.ArgumentAt(i));
    }
    EXPECT_EQ(parsed.options.size(), line.OptionCount());
    EXPECT_EQ(line.ArgumentAt(line.ArgumentCount()), nullptr);
    return parsed;
}

using Options = std::vector<std::pair<char, std::string>>;
using Arguments = std::vector<std::string>;

TEST(CommandLine, TokenizerTable) {
    struct Case {
        std::string input;
        Options options;
        Arguments arguments;
    };
    const Case cases[] = {
        {"", {}, {}},
        {"   ", {}, {}},
        {"/D:1 test.wav", {{'D', "1"}}, {"test.wav"}},
        {"/D:\"1 - QDL7310 /04\" test.wav /H",
         {{'D', "1 - QDL7310 /04"}, {'H', "<none>"}},
         {"test.wav"}},
        {"  a.wav    /l   ", {{'L', "<none>"}}, {"a.wav"}},
        {"\"my file.wav\"", {}, {"my file.wav"}},
        {"my\" \"file.wav", {}, {"my file.wav"}},  // quotes mid-item removed, blank kept
        {"a\tb.wav", {}, {"a\tb.wav"}},            // a tab never separates
        {"\"unbalanced a b", {}, {"unbalanced a b"}},
        {"/X:abc /X: /Xabc", {{'X', "abc"}, {'X', ""}, {'X', "<none>"}}, {}},
        {"-s:110", {{'S', "110"}}, {}},
        {"-file.wav", {{'F', "<none>"}}, {}},  // a leading '-' always makes an option
        {"/LX", {{'L', "<none>"}}, {}},
        {"/home/ann/a.wav", {}, {"/home/ann/a.wav"}},  // absolute paths are files
        {"/tmp/x.wav /h", {{'H', "<none>"}}, {"/tmp/x.wav"}},
        {"/E/", {}, {"/E/"}},
        {"/D:a/b", {{'D', "a/b"}}, {}},
        {"/ -", {{'\0', "<none>"}, {'\0', "<none>"}}, {}},
        {"/é", {{'\xC3', "<none>"}}, {}},  // only ASCII letters are upper-cased
        {"a b c", {}, {"a", "b", "c"}},
    };
    for (const Case& c : cases) {
        const Parsed parsed = Parse(c.input);
        EXPECT_EQ(parsed.options, c.options) << '[' << c.input << ']';
        EXPECT_EQ(parsed.arguments, c.arguments) << '[' << c.input << ']';
    }
}

TEST(CommandLine, LongLinesHaveNoLimit) {
    std::string input;
    for (int i = 0; i < 500; ++i) {
        input += "/P:" + std::to_string(i) + " ";
    }
    input += std::string(1000, 'f') + ".wav";
    const Parsed parsed = Parse(input);
    ASSERT_EQ(parsed.options.size(), 500u);
    EXPECT_EQ(parsed.options[499].second, "499");
    ASSERT_EQ(parsed.arguments.size(), 1u);
    EXPECT_EQ(parsed.arguments[0].size(), 1004u);
}

TEST(CommandLine, FindOptionFirstOccurrenceAnyCase) {
    std::string text = "/S:50 /s:200 /h";
    CommandLine line(text.data());
    const char* value = nullptr;
    EXPECT_TRUE(line.FindOption('s', &value));
    EXPECT_STREQ(value, "50");
    EXPECT_TRUE(line.FindOption('S', nullptr));
    value = "unchanged";
    EXPECT_TRUE(line.FindOption('H', &value));
    EXPECT_EQ(value, nullptr);
    value = "unchanged";
    EXPECT_FALSE(line.FindOption('q', &value));
    EXPECT_STREQ(value, "unchanged");
    char letter = 'z';
    EXPECT_FALSE(line.OptionAt(3, &letter, &value));
    EXPECT_EQ(letter, 'z');
}

TEST(CommandLine, FindOptionIntConversions) {
    struct Case {
        const char* item;
        bool found;
        int32_t value;
    };
    const Case cases[] = {
        {"/P:-25", true, -25},
        {"/P:12abc", true, 12},
        {"/P:abc", true, 0},
        {"/P:", true, 0},
        {"/P:\t+7", true, 7},  // tabs stay in the item; strtol skips them
        {"/P:99999999999", true, INT32_MAX},
        {"/P:-99999999999", true, INT32_MIN},
        {"/P:2147483648", true, INT32_MAX},
        {"/P", false, 1234},  // present without a value: the caller's default applies
        {"/Q:5", false, 1234},
    };
    for (const Case& c : cases) {
        std::string text = c.item;
        CommandLine line(text.data());
        int32_t value = 1234;
        EXPECT_EQ(line.FindOptionInt('p', &value), c.found) << c.item;
        EXPECT_EQ(value, c.value) << c.item;
    }
}

TEST(CommandLine, JoinedArgumentsTokenizeBackToArgv) {
    std::vector<std::string> args = {"quindle64", "/D:1 - Test Sink", "/home/ann/my song.wav", "/H",
                                     "-l",        "~F440,A-6"};
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    std::string text = JoinArguments(static_cast<int>(argv.size()), argv.data());
    EXPECT_EQ(text, "\"/D:1 - Test Sink\" \"/home/ann/my song.wav\" /H -l ~F440,A-6");
    const Parsed parsed = Parse(text);
    EXPECT_EQ(parsed.options, (Options{{'D', "1 - Test Sink"}, {'H', "<none>"}, {'L', "<none>"}}));
    EXPECT_EQ(parsed.arguments, (Arguments{"/home/ann/my song.wav", "~F440,A-6"}));
}

}  // namespace
