// The command line on arbitrary bytes: the tokenizer, the option check with its message, the
// pause schedule of option I and the device match of option D. The input up to its first
// NUL byte is the command-line text; the bytes after it are device names, one per line, which
// also serve as words from a shell.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "apps/play/CommandLine.h"
#include "apps/play/DeviceMatch.h"
#include "apps/play/Usage.h"
#include "fuzz/FuzzSupport.h"

namespace {

std::vector<std::string> SplitLines(const uint8_t* data, size_t size) {
    std::vector<std::string> lines;
    std::string line;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == '\n') {
            lines.push_back(line);
            line.clear();
        } else if (data[i] != '\0') {
            line += static_cast<char>(data[i]);
        }
    }
    if (!line.empty()) {
        lines.push_back(line);
    }
    return lines;
}

void CheckMatch(const std::vector<std::string>& upperNames, const char* text) {
    const int32_t device = MatchDevice(upperNames, text);
    FUZZ_CHECK(device >= -1 && device < static_cast<int32_t>(upperNames.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto* nul = static_cast<const uint8_t*>(std::memchr(data, 0, size));
    const size_t textSize = nul != nullptr ? static_cast<size_t>(nul - data) : size;

    // The tokenizer rewrites its text in place: hand it a writable copy of exactly that many
    // bytes plus the terminator, so ASan sees any step past the end.
    std::vector<char> text(data, data + textSize);
    text.push_back('\0');
    CommandLine commandLine(text.data());

    const uint32_t options = commandLine.OptionCount();
    const uint32_t arguments = commandLine.ArgumentCount();
    FUZZ_CHECK(options + arguments <= textSize);
    for (uint32_t i = 0; i < options; ++i) {
        char letter = 0;
        const char* value = nullptr;
        FUZZ_CHECK(commandLine.OptionAt(i, &letter, &value));
        FUZZ_CHECK(!(letter >= 'a' && letter <= 'z'));
        if (value != nullptr) {
            FUZZ_CHECK(std::strlen(value) < textSize);
        }
    }
    char letter = 0;
    const char* value = nullptr;
    FUZZ_CHECK(!commandLine.OptionAt(options, &letter, &value));
    for (uint32_t i = 0; i < arguments; ++i) {
        const char* argument = commandLine.ArgumentAt(i);
        FUZZ_CHECK(argument != nullptr && argument[0] != '\0');
    }
    FUZZ_CHECK(commandLine.ArgumentAt(arguments) == nullptr);
    for (int c = 0; c < 256; ++c) {
        int32_t number = 0;
        commandLine.FindOption(static_cast<char>(c), nullptr);
        commandLine.FindOptionInt(static_cast<char>(c), &number);
    }

    bool showBytes = false;
    const std::string message = BuildOptionMessage(commandLine, &showBytes);
    FUZZ_CHECK(message.empty() || message.size() >= UsageText().size());

    const char* pauses = nullptr;
    const bool hasPauses = commandLine.FindOption('I', &pauses);
    LoopDelay delay = ParseLoopDelay(hasPauses, pauses);
    for (int pass = 0; pass < 8; ++pass) {
        FUZZ_CHECK(NextLoopPause(&delay) >= 0);
    }

    const std::vector<std::string> names = SplitLines(data + textSize, size - textSize);
    std::vector<std::string> upperNames;
    for (const std::string& name : names) {
        upperNames.push_back(UpperCaseUtf8(name.c_str(), 31));
        FUZZ_CHECK(upperNames.back().size() <= 31);
    }
    const char* device = nullptr;
    if (commandLine.FindOption('D', &device)) {
        CheckMatch(upperNames, device);
    }
    for (uint32_t i = 0; i < arguments; ++i) {
        CheckMatch(upperNames, commandLine.ArgumentAt(i));
    }
    // The same lines as words from a shell: each is exactly one item, never rewritten.
    std::vector<std::string> words = names;
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    const CommandLine fromWords(static_cast<int>(argv.size()), argv.data());
    FUZZ_CHECK(fromWords.OptionCount() + fromWords.ArgumentCount() == names.size());
    FUZZ_CHECK(words == names);
    BuildOptionMessage(fromWords, &showBytes);

    const std::string list = DeviceListText(upperNames);
    FUZZ_CHECK(list.size() < kDeviceListBound);
    return 0;
}
