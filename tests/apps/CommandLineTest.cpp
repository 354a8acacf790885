#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "apps/play/CommandLine.h"

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

}  // namespace
