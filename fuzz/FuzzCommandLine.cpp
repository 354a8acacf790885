// The command line: the input up to its first NUL is the text; the lines after it are device
// names and also words from a shell, and its bytes give read sizes. Tokenizer, option check,
// pause schedule, device match, and the tone generator for arguments that begin with '~'.
#include <cstring>
#include <string>
#include <vector>

#include "apps/play/CommandLine.h"
#include "apps/play/DeviceMatch.h"
#include "apps/play/Usage.h"
#include "fuzz/FuzzSupport.h"
#include "wavfile/WavFileTypeGenerator.h"

namespace {

// A tone opens only for reading; reads fill whole frames only, and channels off in the mask
// stay silent.
void CheckTone(const char* name, FuzzedDataProvider& provider) {
    int32_t error = 0;
    auto file = CreateWavFile(name, "w", &error);
    FUZZ_CHECK(error == WAVFILE_WRITE_FAILED);
    file = CreateWavFile(name, "r", &error);
    FUZZ_CHECK(file != nullptr && (error == WAVFILE_OK || error == WAVFILE_OPEN_FAILED));
    auto* tone = static_cast<TWavFileTypeGenerator*>(file.get());
    FUZZ_CHECK(tone->ChannelMask.size() == static_cast<size_t>(tone->ChannelCount));
    if (error != WAVFILE_OK) {
        return;
    }
    FUZZ_CHECK(tone->ReadHeader(0) == WAVFILE_OK && tone->Channels() == tone->ChannelCount);
    const int32_t frameBytes = tone->BlockAlign();
    FUZZ_CHECK(frameBytes > 0);
    const int32_t sampleBytes = frameBytes / tone->ChannelCount;
    const uint8_t silence = tone->SampleType[3] == '8' ? 128 : 0;
    std::vector<uint8_t> buffer;
    for (int pass = 0; pass < 8; ++pass) {
        const int32_t ask = fuzzsupport::NextSize(provider, 1 << 16, 4096);
        buffer.assign(static_cast<size_t>(ask) + 1, 0xA5);
        const int32_t got = tone->Read(buffer.data(), ask);
        FUZZ_CHECK(got >= 0 && got <= ask && got % frameBytes == 0);
        FUZZ_CHECK(ask - got < frameBytes * (tone->SampleType[3] == '2' ? 4 : 1));
        FUZZ_CHECK(buffer[static_cast<size_t>(got)] == 0xA5);
        for (int32_t at = 0; at < got; ++at) {
            if (tone->ChannelMask[static_cast<size_t>(at % frameBytes / sampleBytes)] == 0) {
                FUZZ_CHECK(buffer[static_cast<size_t>(at)] == silence);
            }
        }
    }
    char* text = nullptr;
    tone->GetFormatText(&text);
    FUZZ_CHECK(tone->Close() == WAVFILE_OK);
    FUZZ_CHECK(tone->Read(buffer.data(), static_cast<int32_t>(buffer.size())) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto* nul = static_cast<const uint8_t*>(std::memchr(data, 0, size));
    const size_t textSize = nul != nullptr ? static_cast<size_t>(nul - data) : size;
    // Exactly the text and its terminator, so ASan sees any step past the end.
    std::vector<char> text(data, data + textSize);
    text.push_back('\0');
    CommandLine line(text.data());
    const uint32_t options = line.OptionCount();
    const uint32_t arguments = line.ArgumentCount();
    FUZZ_CHECK(options + arguments <= textSize);
    char letter = 0;
    const char* value = nullptr;
    for (uint32_t i = 0; i < options; ++i) {
        FUZZ_CHECK(line.OptionAt(i, &letter, &value));
        FUZZ_CHECK(!(letter >= 'a' && letter <= 'z'));
        FUZZ_CHECK(value == nullptr || std::strlen(value) < textSize);
    }
    FUZZ_CHECK(!line.OptionAt(options, &letter, &value));
    FuzzedDataProvider provider(data + textSize, size - textSize);
    for (uint32_t i = 0; i < arguments; ++i) {
        FUZZ_CHECK(line.ArgumentAt(i) != nullptr && line.ArgumentAt(i)[0] != '\0');
        if (line.ArgumentAt(i)[0] == '~') {
            CheckTone(line.ArgumentAt(i), provider);
        }
    }
    FUZZ_CHECK(line.ArgumentAt(arguments) == nullptr);
    int32_t number = 0;
    line.FindOptionInt('P', &number);
    bool showBytes = false;
    const std::string message = BuildOptionMessage(line, &showBytes);
    FUZZ_CHECK(message.empty() || message.size() >= UsageText().size());
    const bool hasPauses = line.FindOption('I', &value);
    LoopDelay delay = ParseLoopDelay(hasPauses, value);
    for (int pass = 0; pass < 8; ++pass) {
        FUZZ_CHECK(NextLoopPause(&delay) >= 0);
    }

    std::vector<std::string> names(1);
    for (size_t i = textSize; i < size; ++i) {
        if (data[i] == '\n') {
            names.emplace_back();
        } else if (data[i] != '\0') {
            names.back() += static_cast<char>(data[i]);
        }
    }
    std::vector<std::string> upperNames;
    for (const std::string& name : names) {
        upperNames.push_back(UpperCaseUtf8(name.c_str(), 31));
        FUZZ_CHECK(upperNames.back().size() <= 31);
    }
    for (uint32_t i = 0; i <= arguments; ++i) {
        const char* query = i < arguments ? line.ArgumentAt(i) : nullptr;
        if (query != nullptr || line.FindOption('D', &query)) {
            const int32_t device = MatchDevice(upperNames, query);
            FUZZ_CHECK(device >= -1 && device < static_cast<int32_t>(upperNames.size()));
        }
    }
    FUZZ_CHECK(DeviceListText(upperNames).size() < kDeviceListBound);
    // The same lines as shell words: each is exactly one item, never rewritten.
    std::vector<std::string> words = names;
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    const CommandLine fromWords(static_cast<int>(argv.size()), argv.data());
    FUZZ_CHECK(fromWords.OptionCount() + fromWords.ArgumentCount() == names.size());
    FUZZ_CHECK(words == names);
    BuildOptionMessage(fromWords, &showBytes);
    return 0;
}
