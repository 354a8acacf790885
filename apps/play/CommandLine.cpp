#include "apps/play/CommandLine.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string_view>

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

// Absolute Linux paths begin with '/': an item like "/home/ann/a.wav" (third character not
// the end and not ':', and another '/' after the first) is a file, not an option.
bool IsOption(std::string_view item) {
    if (item.empty() || (item[0] != '-' && item[0] != '/')) {
        return false;
    }
    const bool looksLikePath = item[0] == '/' && item.size() > 2 && item[2] != ':' &&
                               item.find('/', 1) != std::string_view::npos;
    return !looksLikePath;
}

// A terminator counts as a separator too: pass 3 writes them over separators as it goes.
bool IsSeparator(char c) {
    return c == kSeparator || c == '\0';
}

// Calls visit(begin, length) for every non-empty item of the prepared text.
template <typename Visit>
void ForEachItem(std::string_view text, Visit visit) {
    size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && IsSeparator(text[at])) {
            ++at;
        }
        const size_t begin = at;
        while (at < text.size() && !IsSeparator(text[at])) {
            ++at;
        }
        if (at > begin) {
            visit(begin, at - begin);
        }
    }
}

}  // namespace

CommandLine::CommandLine(char* text) {
    if (text == nullptr) {
        return;
    }
    PrepareInPlace(text);
    const std::string_view prepared(text);

    // Pass 2: count options and arguments.
    ForEachItem(prepared, [&](size_t begin, size_t length) {
        if (IsOption(prepared.substr(begin, length))) {
            ++optionCount;
        } else {
            ++argumentCount;
        }
    });
    if (optionCount > 0) {
        options = std::make_unique<CommandOption[]>(optionCount);
    }
    if (argumentCount > 0) {
        arguments = std::make_unique<const char*[]>(argumentCount);
    }

    // Pass 3: terminate each item in place and fill the lists.
    uint32_t option = 0;
    uint32_t argument = 0;
    ForEachItem(prepared, [&](size_t begin, size_t length) {
        char* item = text + begin;
        const bool isOption = IsOption(prepared.substr(begin, length));
        item[length] = '\0';  // the separator (or the final terminator) ends the item
        if (isOption) {
            CommandOption& entry = options[option++];
            entry.letter = UpperAscii(item[1]);
            entry.value = (length >= 3 && item[2] == ':') ? item + 3 : nullptr;
        } else {
            arguments[argument++] = item;
        }
    });
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

std::string JoinArguments(int argc, char** argv) {
    std::string text;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) {
            text += ' ';
        }
        const bool quote = std::strchr(argv[i], ' ') != nullptr;
        if (quote) {
            text += '"';
        }
        text += argv[i];
        if (quote) {
            text += '"';
        }
    }
    return text;
}
