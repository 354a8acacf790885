#include "wavfile/WavFileTypeMP23.h"

#include <cstring>
#include <vector>

#include "wavfile/MpegFrameHeader.h"

namespace {

// The size of an ID3v2 tag, header and optional footer included, from its first ten bytes.
int32_t Id3TagLength(const uint8_t* tag) {
    int32_t size = 0;
    for (int i = 6; i < 10; ++i) {
        size = size << 7 | (tag[i] & 0x7F);
    }
    const bool footer = (tag[5] & 0x10) != 0;
    return size + 10 + (footer ? 10 : 0);
}

}  // namespace

TWavFileTypeMP23::TWavFileTypeMP23(const char* name, const char* mode, int32_t* error)
    : TWavFileBase(name, mode, error) {}

int32_t TWavFileTypeMP23::FindFrameHeader(uint32_t* header) {
    *header = 0;
    PlainFile* file = File.get();
    if (file == nullptr) {
        return WAVFILE_NO_DATA_CHUNK;
    }
    int32_t candidate = 0;
    // Every pass ends here: 1 with the word for a frame header at the candidate, 0 for
    // none, -1 when the file ends first.
    auto testCandidate = [&]() {
        uint8_t bytes[4];
        PlainFileSeek(file, candidate, PLAINSEEK_START);
        if (PlainFileRead(bytes, 1, 4, file) != 4) {
            return -1;
        }
        if (!IsFrameHeader(BigEndianWord(bytes))) {
            return 0;
        }
        *header = BigEndianWord(bytes);
        PlainFileSeek(file, candidate, PLAINSEEK_START);
        return 1;
    };

    // Pass 1: a frame at the very start.
    int found = testCandidate();
    if (found != 0) {
        return found > 0 ? WAVFILE_OK : WAVFILE_NO_DATA_CHUNK;
    }

    // Pass 2: a frame right after an ID3v2 tag.
    uint8_t tag[10];
    PlainFileSeek(file, candidate, PLAINSEEK_START);
    if (PlainFileRead(tag, 1, 4, file) != 4) {
        return WAVFILE_NO_DATA_CHUNK;
    }
    if (std::memcmp(tag, "ID3", 3) == 0) {
        if (PlainFileRead(tag + 4, 1, 6, file) != 6) {
            return WAVFILE_NO_DATA_CHUNK;
        }
        candidate = Id3TagLength(tag);
    }
    found = testCandidate();
    if (found != 0) {
        return found > 0 ? WAVFILE_OK : WAVFILE_NO_DATA_CHUNK;
    }

    // Pass 3: the first four-byte window with the sync bits within ScanWindow bytes. The
    // window is read in one piece; running into the end of the file before a match ends the
    // search as a byte-by-byte read would.
    const int32_t scanStart = candidate;
    std::vector<uint8_t> window(ScanWindow);
    PlainFileSeek(file, scanStart, PLAINSEEK_START);
    const int32_t got = PlainFileRead(window.data(), 1, ScanWindow, file);
    uint32_t word = 0;
    int32_t match = -1;
    for (int32_t i = 0; i < got; ++i) {
        word = word << 8 | window[i];
        if (i >= 3 && IsFrameHeader(word)) {
            match = i - 3;
            break;
        }
    }
    if (match < 0 && got < ScanWindow) {
        return WAVFILE_NO_DATA_CHUNK;
    }
    candidate = match >= 0 ? scanStart + match : scanStart + ScanWindow;
    found = testCandidate();
    if (found > 0) {
        return WAVFILE_OK;
    }
    *header = 0;
    return WAVFILE_NO_DATA_CHUNK;
}

int32_t TWavFileTypeMP23::ReadHeader(int32_t flag) {
    uint32_t header = 0;
    if (FindFrameHeader(&header) != WAVFILE_OK) {
        return WAVFILE_NO_DATA_CHUNK;
    }
    if (DecodeFrameHeader(*this, header) != WAVFILE_OK) {
        return WAVFILE_NO_DATA_CHUNK;
    }
    // Everything from the first frame to the end of the file counts as audio data.
    const int32_t frameOffset = PlainFileTell(File.get());
    PlainFileSeek(File.get(), 0, PLAINSEEK_END);
    const int32_t end = PlainFileTell(File.get());
    if (end > frameOffset) {
        DataLength = end - frameOffset;
    }
    if (flag == 0) {
        PlainFileSeek(File.get(), frameOffset, PLAINSEEK_START);
    }
    return WAVFILE_OK;
}
