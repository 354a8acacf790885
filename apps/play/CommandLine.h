// The parsed command line: options (an upper-case letter and an optional value) and plain
// arguments, both in command-line order. The texts point into the words given (or into the one
// command-line text, which the tokenizing constructor rewrites in place); they must outlive
// this object.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

struct CommandOption {
    char letter;        // upper-cased; '\0' for an item that is only "-" or "/"
    const char* value;  // text after ':' when the character after the letter is ':', else null
    std::string_view spelling;  // the letter as typed: one UTF-8 character, or empty
};

class CommandLine {
  public:
    // One text holding all items: blanks separate them, double quotes group them.
    explicit CommandLine(char* text);
    // Words the shell has already split and unquoted (argv after the program's name): each
    // word is exactly one item, byte for byte; a '"' in it is an ordinary character.
    CommandLine(int wordCount, char* const* words);
    ~CommandLine();
    CommandLine(const CommandLine&) = delete;
    CommandLine& operator=(const CommandLine&) = delete;

    uint32_t OptionCount() const { return optionCount; }
    uint32_t ArgumentCount() const { return argumentCount; }
    bool OptionAt(uint32_t index, char* letter, const char** value) const;
    // The option's letter as typed (a whole UTF-8 character), or empty past the end.
    std::string_view OptionSpelling(uint32_t index) const;
    // First option with the letter (ASCII case-insensitive); value may be null.
    bool FindOption(char letter, const char** value) const;
    // The option's value as a base-10 integer clamped to 32 bits. False when the option is
    // absent or has no value, so the caller's default applies.
    bool FindOptionInt(char letter, int32_t* value) const;
    const char* ArgumentAt(uint32_t index) const;

  private:
    void Fill(int itemCount, char* const* items);

    std::unique_ptr<CommandOption[]> options;
    uint32_t optionCount = 0;
    std::unique_ptr<const char*[]> arguments;
    uint32_t argumentCount = 0;
};
