#include "apps/play/Usage.h"

#include <climits>
#include <cstdlib>
#include <string_view>

#include "apps/play/CommandLine.h"

const std::string& UsageText() {
    static const std::string text =
        "usage:\tQuindle64.exe [<options>] <filename>\n\n"
        "\tOption\tDescription\n"
        "\tD\tdevice name or number, default is WAVE_MAPPER\n"
        "\t\tpartial name will select first matching device\n"
        "\tE\tenumerate available devices\n"
        "\tL\tloop, file will loop until application is closed\n"
        "\tP\tpunch in offset in bytes, the default is 0\n"
        "\tS\tsamplerate cf orig. in percent, the default is 100=orig., 110 bumps sample rate "
        "up 10 percent\n"
        "\tT\ttimestretch cf orig. in percent, the default is 100=orig., 110 makes file 10 "
        "percent longer\n"
        "\tB\tshow position in bytes.  default is seconds\n"
        "\tH\thide window\n"
        "eg., Quindle64.exe /D:1 test.wav\n"
        "eg., Quindle64.exe /D:\"1 - QDL7310 /04\" test.wav /H\n";
    return text;
}

const char* InformationRequested(int wordCount, const char* const* words) {
    for (int i = 0; i < wordCount; ++i) {
        const std::string_view word = words[i];
        if (word == "--help") {
            return UsageText().c_str();
        }
        if (word == "--version") {
            return "quindle64 1.14\n";
        }
    }
    return nullptr;
}

std::string BuildOptionMessage(const CommandLine& commandLine, bool* showBytes) {
    std::string message;
    bool acceptable = true;
    if (commandLine.ArgumentCount() != 1) {
        message += "Missing required parameter: <filename>.\n";
        acceptable = false;
    }
    char letter = 0;
    const char* value = nullptr;
    for (uint32_t i = 0; commandLine.OptionAt(i, &letter, &value); ++i) {
        const std::string_view spelling = commandLine.OptionSpelling(i);
        switch (letter) {
            case 'B':
                if (showBytes != nullptr) {
                    *showBytes = true;
                }
                break;
            case 'D':
            case 'E':
            case 'H':
            case 'I':
            case 'L':
            case 'P':
            case 'S':
            case 'T':
                break;
            default: {
                // An ASCII letter is shown upper-cased; any other character whole, as typed.
                message += "Unknown option /";
                if (spelling.size() == 1) {
                    message += letter;
                } else {
                    message += spelling;
                }
                if (value != nullptr && value[0] != '\0') {
                    message += ':';
                    message += value;
                }
                message += '\n';
                acceptable = false;
            }
        }
    }
    if (acceptable) {
        return std::string();
    }
    message += '\n';
    message += UsageText();
    return message;
}

LoopDelay ParseLoopDelay(bool present, const char* value) {
    LoopDelay delay;
    if (!present || value == nullptr) {
        return delay;
    }
    // "%d,%d,%d": each number may have leading blanks and a sign; reading stops at the
    // first field that does not convert or is not followed by a comma.
    int32_t* fields[] = {&delay.first, &delay.limit, &delay.step};
    const char* at = value;
    for (int i = 0; i < 3; ++i) {
        char* end = nullptr;
        const long long number = std::strtoll(at, &end, 10);
        if (end == at) {
            break;
        }
        *fields[i] = static_cast<int32_t>(number > INT32_MAX   ? INT32_MAX
                                          : number < INT32_MIN ? INT32_MIN
                                                               : number);
        at = end;
        if (*at != ',') {
            break;
        }
        ++at;
    }
    delay.enabled = delay.first >= 0;
    delay.current = delay.first;
    return delay;
}

int32_t NextLoopPause(LoopDelay* delay) {
    if (!delay->enabled) {
        return 0;
    }
    const int32_t pause = delay->current > 0 ? delay->current : 0;
    const int64_t next = static_cast<int64_t>(delay->current) + delay->step;
    delay->current = (next > delay->limit || next > INT32_MAX || next < INT32_MIN)
                         ? delay->first
                         : static_cast<int32_t>(next);
    return pause;
}
