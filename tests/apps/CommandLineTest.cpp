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

// Words from the shell: each is one item, byte for byte, and only its first characters decide
// whether it is an option (a name that begins with '/' and holds another '/' is a file).
TEST(CommandLine, EachWordIsExactlyOneItem) {
    struct Case {
        std::vector<std::string> words;
        Options options;
        Arguments arguments;
        std::vector<std::string> spellings;
    };
    const Case cases[] = {
        {{"/H", "q\"x.wav"}, {{'H', "<none>"}}, {"q\"x.wav"}, {"H"}},
        {{"p \"x y\".wav"}, {}, {"p \"x y\".wav"}, {}},
        {{"/D:\"Null Output\"", "f.wav"}, {{'D', "\"Null Output\""}}, {"f.wav"}, {"D"}},
        {{"\"unbalanced"}, {}, {"\"unbalanced"}, {}},
        {{" a\tb .wav ", "\t"}, {}, {" a\tb .wav ", "\t"}, {}},
        {{"-lead \"x\".wav"}, {{'L', "<none>"}}, {}, {"l"}},
        {{"-x:\"a b\""}, {{'X', "\"a b\""}}, {}, {"x"}},
        {{"\xC3\xA9t\xC3\xA9 \xE2\x99\xAA.wav"}, {}, {"\xC3\xA9t\xC3\xA9 \xE2\x99\xAA.wav"}, {}},
        {{""}, {}, {""}, {}},
        {{"", "a.wav", ""}, {}, {"", "a.wav", ""}, {}},
        {{"/home/ann/my \"best\" take.wav", "/l"},
         {{'L', "<none>"}},
         {"/home/ann/my \"best\" take.wav"},
         {"l"}},
        {{"/D:1 - QDL7310 /04", "/LX"},
         {{'D', "1 - QDL7310 /04"}, {'L', "<none>"}},
         {},
         {"D", "L"}},
        {{"//x.wav", "/E/"}, {}, {"//x.wav", "/E/"}, {}},
        {{"/", "-"}, {{'\0', "<none>"}, {'\0', "<none>"}}, {}, {"", ""}},
        // A letter beyond ASCII is one whole UTF-8 character; ':' after it starts a value.
        {{"/\xC3\x89", "/\xC3\x89:1", "/\xC3\x89:a/b"},
         {{'\xC3', "<none>"}, {'\xC3', "1"}, {'\xC3', "a/b"}},
         {},
         {"\xC3\x89", "\xC3\x89", "\xC3\x89"}},
        {{"/\xE2\x99\xAA/x"}, {}, {"/\xE2\x99\xAA/x"}, {}},
        {{"/\xFF:1"}, {{'\xFF', "1"}}, {}, {"\xFF"}},  // not UTF-8: the byte alone
    };
    for (const Case& c : cases) {
        std::vector<std::string> words = c.words;
        std::vector<char*> argv;
        for (std::string& word : words) {
            argv.push_back(word.data());
        }
        const CommandLine line(static_cast<int>(argv.size()), argv.data());
        Options options;
        std::vector<std::string> spellings;
        char letter = 0;
        const char* value = nullptr;
        for (uint32_t i = 0; line.OptionAt(i, &letter, &value); ++i) {
            options.emplace_back(letter, value != nullptr ? value : "<none>");
            spellings.emplace_back(line.OptionSpelling(i));
        }
        Arguments arguments;
        for (uint32_t i = 0; i < line.ArgumentCount(); ++i) {
            arguments.emplace_back(line.ArgumentAt(i));
        }
        const std::string shown = c.words.empty() ? "" : c.words[0];
        EXPECT_EQ(options, c.options) << '[' << shown << ']';
        EXPECT_EQ(arguments, c.arguments) << '[' << shown << ']';
        EXPECT_EQ(spellings, c.spellings) << '[' << shown << ']';
        EXPECT_EQ(words, c.words) << "the words are not rewritten";
    }
}

}  // namespace
