#include "apps/play/CommandLine.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

namespace {

constexpr char kSeparator = '\r';

char UpperAscii(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Pass 1: delete double quotes (flipping the inside-quotes state) and turn blanks outside
// quotes into carriage returns, the only separator from here on. Tabs never separate.
void PrepareInPlace(char* text) {
    bool quoted = false;
    char* out = text;
    for (const char* in = text; *in != '\0'; ++in) {
        if (*in == '"') {
            quoted = !quoted;
            continue;
        }
        *out++ = (*in == ' ' && !quoted) ? kSeparator : *in;
    }
    *out = '\0';
}

// Bytes of the UTF-8 character at the text: 1 to 4 for a well-formed one, 1 for any other
// byte, 0 at the end.
size_t CharacterLength(const char* text) {
    const auto lead = static_cast<unsigned char>(text[0]);
    if (lead == 0) {
        return 0;
    }
    size_t length = 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
    }
    for (size_t i = 1; i < length; ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            return 1;
        }
    }
    return length;
}

// What follows the letter of an option item: the "third character" of the item.
const char* AfterLetter(const char* item) {
    return item + 1 + CharacterLength(item + 1);
}

// Absolute Linux paths begin with '/': an item like "/home/ann/a.wav" (third character not
// the end and not ':', and another '/' after the first) is a file, not an option.
bool IsOption(const char* item) {
    if (item[0] != '-' && item[0] != '/') {
        return false;
    }
    const char* third = AfterLetter(item);
    const bool looksLikePath =
        item[0] == '/' && *third != '\0' && *third != ':' && std::strchr(item + 1, '/') != nullptr;
    return !looksLikePath;
}

// Pass 2 of the tokenizer: splits the prepared text at runs of separators, terminating each
// item in place. There are no empty items.
std::vector<char*> SplitInPlace(char* text) {
    std::vector<char*> items;
    char* at = text;
    while (*at != '\0') {
        while (*at == kSeparator) {
            ++at;
        }
        if (*at == '\0') {
            break;
        }
        items.push_back(at);
        while (*at != '\0' && *at != kSeparator) {
            ++at;
        }
        if (*at == kSeparator) {
            *at++ = '\0';
        }
    }
    return items;
}

}  // namespace

CommandLine::CommandLine(char* text) {
    if (text == nullptr) {
        return;
    }
    PrepareInPlace(text);
    const std::vector<char*> items = SplitInPlace(text);
    Fill(static_cast<int>(items.size()), items.data());
}

CommandLine::CommandLine(int wordCount, char* const* words) {
    if (words != nullptr && wordCount > 0) {
        Fill(wordCount, words);
    }
}

// Counts options and arguments, allocates both lists at exactly those sizes, then fills them.
void CommandLine::Fill(int itemCount, char* const* items) {
    for (int i = 0; i < itemCount; ++i) {
        ++(IsOption(items[i]) ? optionCount : argumentCount);
    }
    if (optionCount > 0) {
        options = std::make_unique<CommandOption[]>(optionCount);
    }
    if (argumentCount > 0) {
        arguments = std::make_unique<const char*[]>(argumentCount);
    }
    uint32_t option = 0;
    uint32_t argument = 0;
    for (int i = 0; i < itemCount; ++i) {
        char* item = items[i];
        if (!IsOption(item)) {
            arguments[argument++] = item;
            continue;
        }
        const char* third = AfterLetter(item);
        CommandOption& entry = options[option++];
        entry.letter = UpperAscii(item[1]);
        entry.value = *third == ':' ? third + 1 : nullptr;
        entry.spelling = std::string_view(item + 1, static_cast<size_t>(third - (item + 1)));
    }
}

CommandLine::~CommandLine() {
    optionCount = 0;
    argumentCount = 0;
}

bool CommandLine::OptionAt(uint32_t index, char* letter, const char** value) const {
    if (index >= optionCount) {
        return false;
    }
    if (letter != nullptr) {
        *letter = options[index].letter;
    }
    if (value != nullptr) {
        *value = options[index].value;
    }
    return true;
}

std::string_view CommandLine::OptionSpelling(uint32_t index) const {
    return index < optionCount ? options[index].spelling : std::string_view();
}

bool CommandLine::FindOption(char letter, const char** value) const {
    const char wanted = UpperAscii(letter);
    for (uint32_t i = 0; i < optionCount; ++i) {
        if (options[i].letter == wanted) {
            if (value != nullptr) {
                *value = options[i].value;
            }
            return true;
        }
    }
    return false;
}

bool CommandLine::FindOptionInt(char letter, int32_t* value) const {
    const char* text = nullptr;
    if (!FindOption(letter, &text) || text == nullptr) {
        return false;
    }
    long long number = std::strtoll(text, nullptr, 10);
    if (number > INT32_MAX) {
        number = INT32_MAX;
    } else if (number < INT32_MIN) {
        number = INT32_MIN;
    }
    if (value != nullptr) {
        *value = static_cast<int32_t>(number);
    }
    return true;
}

const char* CommandLine::ArgumentAt(uint32_t index) const {
    return index < argumentCount ? arguments[index] : nullptr;
}
