// The parsed command line: options (an upper-case letter and an optional value) and plain
// arguments, both in command-line order. The texts point into the command-line text, which
// the constructor rewrites in place and which must outlive this object.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct CommandOption {
    char letter;        // upper-cased; '\0' for an item that is only "-" or "/"
    const char* value;  // text after ':' when the third character is ':', else null
};

class CommandLine {
  public:
    explicit CommandLine(char* text);
    ~CommandLine();
    CommandLine(const CommandLine&) = delete;
    CommandLine& operator=(const CommandLine&) = delete;

    uint32_t OptionCount() const { return optionCount; }
    uint32_t ArgumentCount() const { return argumentCount; }
    bool OptionAt(uint32_t index, char* letter, const char** value) const;
    // First option with the letter (ASCII case-insensitive); value may be null.
    bool FindOption(char letter, const char** value) const;
    // The option's value as a base-10 integer clamped to 32 bits. False when the option is
    // absent or has no value, so the caller's default applies.
    bool FindOptionInt(char letter, int32_t* value) const;
    const char* ArgumentAt(uint32_t index) const;

  private:
    std::unique_ptr<CommandOption[]> options;
    uint32_t optionCount = 0;
    std::unique_ptr<const char*[]> arguments;
    uint32_t argumentCount = 0;
};

// Rebuilds the one command-line text from argv[1..]: arguments joined by blanks, each that
// contains a blank wrapped in double quotes, so the tokenizer gives back the same items.
std::string JoinArguments(int argc, char** argv);
