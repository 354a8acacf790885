// Builds RIFF files byte by byte for the RIFF WAVE tests, and reads audio back through the
// file layer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/TempDir.h"
#include "wavfile/WavFileBase.h"

namespace rifftest {

using Bytes = std::vector<uint8_t>;

struct Chunk {
    std::string id;
    Bytes data;
    uint32_t sizeField = UINT32_MAX;  // UINT32_MAX: the real size
};

inline void AppendChunk(Bytes& out, const Chunk& chunk) {
    testsupport::PutText(out, chunk.id.c_str());
    testsupport::PutLE32(out, chunk.sizeField != UINT32_MAX
                                  ? chunk.sizeField
                                  : static_cast<uint32_t>(chunk.data.size()));
    out.insert(out.end(), chunk.data.begin(), chunk.data.end());
    if (chunk.data.size() % 2 != 0) {
        out.push_back(0);
    }
}

// "RIFF", size, form type and the chunks, each padded to an even length.
inline Bytes Riff(const std::vector<Chunk>& chunks, const char* form = "WAVE") {
    Bytes inner;
    testsupport::PutText(inner, form);
    for (const Chunk& chunk : chunks) {
        AppendChunk(inner, chunk);
    }
    Bytes out;
    AppendChunk(out, {"RIFF", inner});
    return out;
}

// A 16-byte PCM "fmt " body.
inline Bytes PcmFormat(uint16_t channels, uint32_t rate, uint16_t bits) {
    Bytes out;
    const uint16_t block = static_cast<uint16_t>(channels * bits / 8);
    testsupport::PutLE16(out, 1);
    testsupport::PutLE16(out, channels);
    testsupport::PutLE32(out, rate);
    testsupport::PutLE32(out, rate * block);
    testsupport::PutLE16(out, block);
    testsupport::PutLE16(out, bits);
    return out;
}

inline Bytes Pattern(size_t count, uint32_t seed) {
    Bytes out(count);
    uint32_t state = seed * 2654435761u + 1;
    for (auto& byte : out) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<uint8_t>(state >> 16);
    }
    return out;
}

inline Bytes Slice(const Bytes& bytes, size_t from, size_t count) {
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                 bytes.begin() + static_cast<std::ptrdiff_t>(from + count));
}

// Reads with ReadHeader(0) done by the caller, in blocks, until 0.
inline Bytes ReadAll(TWavFileBase& file, int32_t block = 65536) {
    Bytes out;
    Bytes buffer(static_cast<size_t>(block));
    for (int guard = 0; guard < 1 << 20; ++guard) {
        const int32_t got = file.Read(buffer.data(), block);
        if (got <= 0) {
            break;
        }
        out.insert(out.end(), buffer.begin(), buffer.begin() + got);
    }
    return out;
}

}  // namespace rifftest
