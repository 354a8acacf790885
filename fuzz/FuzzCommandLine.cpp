// The command line: the input up to its first NUL is one text to parse; the lines after it are
// shell words (one argv item each, never rewritten) and device names to match them against.
#include <cstring>
#include <string>
#include <vector>

#include "apps/play/CommandLine.h"
#include "apps/play/DeviceMatch.h"
#include "apps/play/Usage.h"
#include "fuzz/FuzzSupport.h"

namespace {

void CheckLine(const CommandLine& line, size_t maxItems, const std::vector<std::string>& names) {
    const uint32_t options = line.OptionCount(), arguments = line.ArgumentCount();
    FUZZ_CHECK(options + arguments <= maxItems);
    char letter = 0;
    const char* value = nullptr;
    for (uint32_t i = 0; i < options; ++i) {
        FUZZ_CHECK(line.OptionAt(i, &letter, &value));
    }
    FUZZ_CHECK(!line.OptionAt(options, &letter, &value) && line.ArgumentAt(arguments) == nullptr);
    bool showBytes = false;
    const std::string message = BuildOptionMessage(line, &showBytes);
    FUZZ_CHECK(message.empty() || message.size() >= UsageText().size());
    LoopDelay delay = ParseLoopDelay(line.FindOption('I', &value), value);
    for (int pass = 0; pass < 8; ++pass) {
        FUZZ_CHECK(NextLoopPause(&delay) >= 0);
    }
    if (line.FindOption('D', &value)) {
        const int32_t device = MatchDevice(names, value);
        FUZZ_CHECK(device >= -1 && device < static_cast<int32_t>(names.size()));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto* nul = static_cast<const uint8_t*>(std::memchr(data, 0, size));
    const size_t textSize = nul != nullptr ? static_cast<size_t>(nul - data) : size;
    std::vector<char> text(data, data + textSize);  // exactly the text: ASan sees any overread
    text.push_back('\0');
    std::vector<std::string> words(1), upper;
    for (size_t i = textSize + 1; i < size; ++i) {
        if (data[i] == '\n') {
            words.emplace_back();
        } else {
            words.back().push_back(static_cast<char>(data[i]));
        }
    }
    for (const std::string& word : words) {
        upper.push_back(UpperCaseUtf8(word.c_str(), 31));
        FUZZ_CHECK(upper.back().size() <= 31);
    }
    FUZZ_CHECK(DeviceListText(upper).size() < kDeviceListBound);
    CheckLine(CommandLine(text.data()), textSize, upper);
    std::vector<std::string> copies = words;
    std::vector<char*> argv;
    for (std::string& word : copies) {
        argv.push_back(word.data());
    }
    const CommandLine fromWords(static_cast<int>(argv.size()), argv.data());
    FUZZ_CHECK(fromWords.OptionCount() + fromWords.ArgumentCount() == words.size());
    FUZZ_CHECK(copies == words);
    CheckLine(fromWords, words.size(), upper);
    return 0;
}
