// Plays a file through the wave-output service the way the player does (four 64 KiB buffers
// refilled on each MM_WOM_DONE) on the default device: raw 16-bit stereo PCM at 48 kHz, or an
// MPEG layer III file (".mp3", 48 kHz stereo). For the benchmark script.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <platform/waveout.h>
#include <platform/window.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s file.raw|file.mp3\n", argv[0]);
        return 2;
    }
    FILE* file = std::fopen(argv[1], "rb");
    if (file == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    const bool mpeg = std::strstr(argv[1], ".mp3") != nullptr;
    uint8_t format[40] = {};
    auto put16 = [&](int at, uint16_t v) { std::memcpy(format + at, &v, 2); };
    auto put32 = [&](int at, uint32_t v) { std::memcpy(format + at, &v, 4); };
    put16(0, mpeg ? WAVE_FORMAT_MPEG : WAVE_FORMAT_PCM);
    put16(2, 2);
    put32(4, 48000);
    put32(8, mpeg ? 16000 : 192000);
    put16(12, mpeg ? 1 : 4);
    put16(14, 16);
    if (mpeg) {
        put16(16, 22);
        put16(18, ACM_MPEG_LAYER3);
        put32(20, 128000);
    }
    HWND window = CreateWindowExA(0, "BUTTON", "bench", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                  nullptr, nullptr);
    HWAVEOUT device = nullptr;
    MMRESULT result = waveOutOpen(&device, WAVE_MAPPER, reinterpret_cast<LPCWAVEFORMATEX>(format),
                                  reinterpret_cast<DWORD_PTR>(window), 0, CALLBACK_WINDOW);
    if (result != MMSYSERR_NOERROR) {
        std::fprintf(stderr, "waveOutOpen failed: %u\n", result);
        return 1;
    }
    std::vector<std::vector<char>> blocks(4, std::vector<char>(65536));
    std::vector<WAVEHDR> headers(4);
    int inFlight = 0;
    auto queue = [&](WAVEHDR* header, std::vector<char>& block) {
        const size_t got = std::fread(block.data(), 1, block.size(), file);
        if (got == 0) {
            return;
        }
        header->lpData = block.data();
        header->dwBufferLength = static_cast<DWORD>(got);
        waveOutPrepareHeader(device, header, sizeof *header);
        if (waveOutWrite(device, header, sizeof *header) == MMSYSERR_NOERROR) {
            ++inFlight;
        }
    };
    for (size_t i = 0; i < headers.size(); ++i) {
        queue(&headers[i], blocks[i]);
    }
    MSG msg;
    while (inFlight > 0 && GetMessageA(&msg, window, 0, 0) > 0) {
        if (msg.message == MM_WOM_DONE) {
            --inFlight;
            auto* header = reinterpret_cast<WAVEHDR*>(msg.lParam);
            queue(header, blocks[static_cast<size_t>(header - headers.data())]);
        }
    }
    waveOutClose(device);
    std::fclose(file);
    return 0;
}
