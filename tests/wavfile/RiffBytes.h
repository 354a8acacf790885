// RIFF files built byte by byte, and audio read back through the file layer.
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
    out.resize(out.size() + chunk.data.size() % 2, 0);
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

// The rest of the audio, read in blocks of `block` bytes.
inline Bytes ReadAll(TWavFileBase& file, int32_t block) {
    Bytes out(static_cast<size_t>(block));
    size_t at = 0;
    for (int32_t got; (got = file.Read(out.data() + at, block)) > 0;) {
        at += static_cast<size_t>(got);
        out.resize(at + static_cast<size_t>(block));
    }
    out.resize(at);
    return out;
}

}  // namespace rifftest
