#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <platform/mmio.h>
#include "support/FillingDisk.h"
#include "support/TempDir.h"

using testsupport::FillingDisk;
using testsupport::PutLE32;
using testsupport::PutText;
using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr FOURCC kWave = mmioFOURCC('W', 'A', 'V', 'E');

void PutChunk(Bytes& out, const char* id, const Bytes& data, bool pad = true) {
    PutText(out, id);
    PutLE32(out, static_cast<uint32_t>(data.size()));
    out.insert(out.end(), data.begin(), data.end());
    if (pad && data.size() % 2 != 0) {
        out.push_back(0);
    }
}

Bytes Filled(size_t count, uint8_t first) {
    Bytes bytes(count);
    for (size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<uint8_t>(first + i);
    }
    return bytes;
}

LONG Write(HMMIO mmio, const Bytes& bytes) {
    return mmioWrite(mmio, reinterpret_cast<const char*>(bytes.data()),
                     static_cast<LONG>(bytes.size()));
}

TEST(Mmio, OpenFlagsDecideCreationAndAccess) {
    struct Case {
        const char* name;
        DWORD flags;
        bool exists;
        bool opens;
        bool writable;
        Bytes after;  // file content after writing "xy" at the end and closing
    };
    const Bytes old = {1, 2, 3};
    const Case cases[] = {
        {"read missing", MMIO_READ | MMIO_DENYNONE, false, false, false, {}},
        {"readwrite missing", MMIO_READWRITE | MMIO_DENYNONE, false, false, false, {}},
        {"read existing", MMIO_READ | MMIO_DENYNONE, true, true, false, {1, 2, 3}},
        {"readwrite keeps", MMIO_READWRITE | MMIO_DENYNONE, true, true, true, {1, 2, 3, 'x', 'y'}},
        {"create truncates",
         MMIO_CREATE | MMIO_READWRITE | MMIO_DENYNONE,
         true,
         true,
         true,
         {'x', 'y'}},
        {"create new", MMIO_CREATE | MMIO_READWRITE | MMIO_DENYNONE, false, true, true, {'x', 'y'}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = dir.File("f.bin");
        if (c.exists) {
            WriteBytes(path, old);
        }
        HMMIO mmio = mmioOpenA(path.c_str(), nullptr, c.flags);
        ASSERT_EQ(mmio != nullptr, c.opens);
        if (mmio == nullptr) {
            continue;
        }
        EXPECT_EQ(mmioSeek(mmio, 0, SEEK_END), c.writable && c.after.size() == 2 ? 0 : 3);
        EXPECT_EQ(mmioWrite(mmio, "xy", 2), c.writable ? 2 : -1);
        EXPECT_EQ(mmioClose(mmio, 0), 0u);
        EXPECT_EQ(ReadBytes(path), c.after);
    }
}

TEST(Mmio, CreatedChunksGetSizesAndPadBytesOnAscend) {
    TempDir dir;
    const std::string path = dir.File("c.wav");
    HMMIO mmio = mmioOpenA(path.c_str(), nullptr, MMIO_CREATE | MMIO_READWRITE);
    ASSERT_NE(mmio, nullptr);
    MMCKINFO riff{};
    riff.fccType = kWave;
    ASSERT_EQ(mmioCreateChunk(mmio, &riff, MMIO_CREATERIFF), 0u);
    EXPECT_EQ(riff.ckid, FOURCC_RIFF);
    EXPECT_EQ(riff.dwDataOffset, 8u);
    EXPECT_EQ(riff.dwFlags, MMIO_DIRTY);
    EXPECT_EQ(mmioSeek(mmio, 0, SEEK_CUR), 12);

    MMCKINFO fmt{};
    fmt.ckid = mmioStringToFOURCCA("fmt ", 0);
    fmt.cksize = 4;  // right from the start: the header is not rewritten
    ASSERT_EQ(mmioCreateChunk(mmio, &fmt, 0), 0u);
    EXPECT_EQ(fmt.dwDataOffset, 20u);
    ASSERT_EQ(Write(mmio, {9, 8, 7, 6}), 4);
    ASSERT_EQ(mmioAscend(mmio, &fmt, 0), 0u);
    EXPECT_EQ(fmt.dwFlags, 0u);

    MMCKINFO list{};
    list.fccType = mmioFOURCC('I', 'N', 'F', 'O');
    ASSERT_EQ(mmioCreateChunk(mmio, &list, MMIO_CREATELIST), 0u);
    ASSERT_EQ(mmioAscend(mmio, &list, 0), 0u);
    EXPECT_EQ(list.cksize, 4u);

    MMCKINFO data{};
    data.ckid = mmioFOURCC('d', 'a', 't', 'a');
    data.cksize = 40;  // a placeholder, corrected on the way out
    ASSERT_EQ(mmioCreateChunk(mmio, &data, 0), 0u);
    ASSERT_EQ(Write(mmio, {1, 2, 3}), 3);
    ASSERT_EQ(mmioAscend(mmio, &data, 0), 0u);
    EXPECT_EQ(data.cksize, 3u);
    EXPECT_EQ(mmioSeek(mmio, 0, SEEK_CUR), 48);  // past the pad byte
    ASSERT_EQ(mmioAscend(mmio, &riff, 0), 0u);
    EXPECT_EQ(riff.cksize, 40u);
    ASSERT_EQ(mmioClose(mmio, 0), 0u);

    Bytes want;
    PutText(want, "RIFF");
    PutLE32(want, 40);
    PutText(want, "WAVE");
    PutChunk(want, "fmt ", {9, 8, 7, 6});
    PutChunk(want, "LIST", {'I', 'N', 'F', 'O'});
    PutChunk(want, "data", {1, 2, 3});
    EXPECT_EQ(ReadBytes(path), want);
}

// RIFF WAVE { junk(3)+pad, "fmt "(16), LIST(5)+pad, data(4) } then a top-level "tail".
Bytes NavigationFile() {
    Bytes inner;
    PutText(inner, "WAVE");
    PutChunk(inner, "junk", {1, 2, 3});
    PutChunk(inner, "fmt ", Filled(16, 0x10));
    PutChunk(inner, "LIST", {'a', 'd', 't', 'l', 5});
    PutChunk(inner, "data", {0xD1, 0xD2, 0xD3, 0xD4});
    Bytes file;
    PutChunk(file, "RIFF", inner);
    PutChunk(file, "tail", {7, 7});
    return file;
}

TEST(Mmio, DescendFindsChunksInsideTheParentOnly) {
    TempDir dir;
    const std::string path = dir.File("n.wav");
    const Bytes file = NavigationFile();
    WriteBytes(path, file);
    struct Case {
        const char* id;
        UINT flags;
        bool insideRiff;
        MMRESULT result;
        DWORD dataOffset;
        DWORD size;
        FOURCC formType;
        LONG positionAfter;
    };
    const Case cases[] = {
        {"fmt ", MMIO_FINDCHUNK, true, 0, 32, 16, 0, 32},
        {"data", MMIO_FINDCHUNK, true, 0, 70, 4, 0, 70},  // past both pad bytes
        {"LIST", MMIO_FINDLIST, true, 0, 56, 5, mmioFOURCC('a', 'd', 't', 'l'), 60},
        {"tail", MMIO_FINDCHUNK, true, MMIOERR_CHUNKNOTFOUND, 0, 0, 0, 12},
        {"nope", MMIO_FINDCHUNK, true, MMIOERR_CHUNKNOTFOUND, 0, 0, 0, 12},
        {"tail", MMIO_FINDCHUNK, false, 0, 82, 2, 0, 82},
        {"RIFF", MMIO_FINDRIFF, false, 0, 8, 66, kWave, 12},
        {"RIFF", 0, false, 0, 8, 66, kWave, 12},  // no search: the chunk at the position
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.id) + (c.insideRiff ? " inside" : " top"));
        HMMIO mmio = mmioOpenA(path.c_str(), nullptr, MMIO_READ);
        ASSERT_NE(mmio, nullptr);
        MMCKINFO riff{};
        riff.fccType = kWave;
        ASSERT_EQ(mmioDescend(mmio, &riff, nullptr, MMIO_FINDRIFF), 0u);
        MMCKINFO chunk{};
        chunk.ckid = mmioStringToFOURCCA(c.id, 0);
        chunk.fccType = c.flags == MMIO_FINDLIST ? mmioFOURCC('a', 'd', 't', 'l') : kWave;
        chunk.dwFlags = MMIO_DIRTY;
        if (!c.insideRiff) {
            mmioSeek(mmio, c.flags == MMIO_FINDCHUNK ? 74 : 0, SEEK_SET);
        }
        EXPECT_EQ(mmioDescend(mmio, &chunk, c.insideRiff ? &riff : nullptr, c.flags), c.result);
        if (c.result == 0) {
            EXPECT_EQ(chunk.dwDataOffset, c.dataOffset);
            EXPECT_EQ(chunk.cksize, c.size);
            EXPECT_EQ(chunk.fccType, c.formType);
            EXPECT_EQ(chunk.dwFlags, 0u);
        }
        EXPECT_EQ(
            mmioSeek(mmio, 0, SEEK_CUR),
            c.flags == MMIO_FINDCHUNK && !c.insideRiff && c.result != 0 ? 74 : c.positionAfter);
        EXPECT_EQ(mmioClose(mmio, 0), 0u);
    }
    EXPECT_EQ(ReadBytes(path), file);
}

TEST(Mmio, DescendStopsAtDamagedHeaders) {
    struct Case {
        const char* name;
        Bytes file;
    };
    Bytes hugeSize;
    PutText(hugeSize, "RIFF");
    PutLE32(hugeSize, 0xFFFFFFF0u);
    PutText(hugeSize, "WAVE");
    PutText(hugeSize, "fmt ");
    PutLE32(hugeSize, 0xFFFFFFFFu);  // claims far more than the file holds
    hugeSize.resize(hugeSize.size() + 10);
    Bytes cutHeader;
    PutText(cutHeader, "RIFF");
    PutLE32(cutHeader, 100);
    PutText(cutHeader, "WAVEfmt");
    const Case cases[] = {{"huge size", hugeSize}, {"cut header", cutHeader}, {"empty", {}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = dir.File("d.wav");
        WriteBytes(path, c.file);
        HMMIO mmio = mmioOpenA(path.c_str(), nullptr, MMIO_READ);
        ASSERT_NE(mmio, nullptr);
        MMCKINFO riff{};
        riff.fccType = kWave;
        const MMRESULT found = mmioDescend(mmio, &riff, nullptr, MMIO_FINDRIFF);
        MMCKINFO data{};
        data.ckid = mmioFOURCC('d', 'a', 't', 'a');
        const LONG before = mmioSeek(mmio, 0, SEEK_CUR);
        EXPECT_EQ(mmioDescend(mmio, &data, found == 0 ? &riff : nullptr, MMIO_FINDCHUNK),
                  static_cast<MMRESULT>(MMIOERR_CHUNKNOTFOUND));
        EXPECT_EQ(mmioSeek(mmio, 0, SEEK_CUR), before);
        EXPECT_EQ(mmioClose(mmio, 0), 0u);
    }
}

// Mixed small and block-sized reads, writes and seeks against an in-memory model: the
// buffer must never lose, repeat or reorder bytes.
TEST(Mmio, BufferedTransfersMatchAModel) {
    TempDir dir;
    const std::string path = dir.File("m.bin");
    HMMIO mmio = mmioOpenA(path.c_str(), nullptr, MMIO_CREATE | MMIO_READWRITE);
    ASSERT_NE(mmio, nullptr);
    Bytes model;
    size_t position = 0;
    std::mt19937 random(1234);
    const size_t sizes[] = {1, 3, 8, 100, 4000, 65535, 65536, 70001, 196613};
    for (int step = 0; step < 600; ++step) {
        const size_t count = sizes[random() % std::size(sizes)];
        switch (random() % 5) {
            case 0:
            case 1: {  // write
                const Bytes bytes = Filled(count, static_cast<uint8_t>(step));
                ASSERT_EQ(Write(mmio, bytes), static_cast<LONG>(count));
                if (model.size() < position + count) {
                    model.resize(position + count);
                }
                std::copy(bytes.begin(), bytes.end(), model.begin() + position);
                position += count;
                break;
            }
            case 2: {  // read
                Bytes got(count);
                const LONG n =
                    mmioRead(mmio, reinterpret_cast<char*>(got.data()), static_cast<LONG>(count));
                const size_t want =
                    position < model.size() ? std::min(count, model.size() - position) : 0;
                ASSERT_EQ(n, static_cast<LONG>(want)) << "step " << step;
                ASSERT_TRUE(std::equal(got.begin(), got.begin() + n, model.begin() + position))
                    << "step " << step;
                position += want;
                break;
            }
            case 3: {  // seek somewhere, sometimes past the end
                position = model.empty() ? 0 : random() % (model.size() + 100);
                ASSERT_EQ(mmioSeek(mmio, static_cast<LONG>(position), SEEK_SET),
                          static_cast<LONG>(position));
                break;
            }
            default:
                if (random() % 2 == 0) {
                    ASSERT_EQ(mmioFlush(mmio, MMIO_EMPTYBUF), 0u);
                }
                ASSERT_EQ(mmioSeek(mmio, 0, SEEK_END), static_cast<LONG>(model.size()));
                position = model.size();
                break;
        }
    }
    ASSERT_EQ(mmioClose(mmio, 0), 0u);
    EXPECT_EQ(ReadBytes(path), model);
}

TEST(Mmio, FlushMakesBufferedBytesVisibleToOtherReaders) {
    TempDir dir;
    const std::string path = dir.File("f.bin");
    HMMIO mmio = mmioOpenA(path.c_str(), nullptr, MMIO_CREATE | MMIO_READWRITE);
    ASSERT_NE(mmio, nullptr);
    ASSERT_EQ(mmioWrite(mmio, "abc", 3), 3);
    EXPECT_TRUE(ReadBytes(path).empty());  // still buffered
    ASSERT_EQ(mmioFlush(mmio, MMIO_EMPTYBUF), 0u);
    EXPECT_EQ(ReadBytes(path), (Bytes{'a', 'b', 'c'}));
    // Changed behind our back: an emptied buffer reads the file again.
    WriteBytes(path, {'x', 'y', 'z'});
    char got[3] = {};
    ASSERT_EQ(mmioSeek(mmio, 0, SEEK_SET), 0);
    ASSERT_EQ(mmioRead(mmio, got, 3), 3);
    EXPECT_EQ(std::string(got, 3), "xyz");
    EXPECT_EQ(mmioClose(mmio, 0), 0u);
}

Bytes Joined(Bytes first, const Bytes& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// A disk that fills: the call that meets the limit reports it, every later call that needs
// the lost bytes fails too, and what reached the file before stays as it was.
TEST(Mmio, AFullDiskIsReportedByEveryCallItAffects) {
    const long kCannotWrite = MMIOERR_CANNOTWRITE;
    MMCKINFO riff{};
    MMCKINFO data{};
    struct Case {
        const char* name;
        std::function<void(HMMIO)> before;  // done and flushed before the disk fills
        uint64_t limit;
        std::function<std::vector<long>(HMMIO)> atLimit;  // results of the calls at the limit
        std::vector<long> results;                        // ... and what they must be
        Bytes after;
    };
    const Case cases[] = {
        {"first write, far out, then one at the start",
         [](HMMIO) {},
         100,
         [](HMMIO mmio) {
             mmioSeek(mmio, 200000, SEEK_SET);
             const long far = Write(mmio, Filled(10, 1));  // only buffered: cannot know yet
             mmioSeek(mmio, 0, SEEK_SET);
             return std::vector<long>{far, Write(mmio, Filled(10, 1)), mmioFlush(mmio, 0),
                                      mmioClose(mmio, 0)};
         },
         {10, -1, kCannotWrite, kCannotWrite},
         {}},
        {"later write",
         [](HMMIO mmio) { Write(mmio, Filled(1000, 1)); },
         1500,
         [](HMMIO mmio) {
             return std::vector<long>{Write(mmio, Filled(2000, 50)), mmioFlush(mmio, 0),
                                      mmioFlush(mmio, MMIO_EMPTYBUF), mmioClose(mmio, 0)};
         },
         {2000, kCannotWrite, kCannotWrite, kCannotWrite},
         Joined(Filled(1000, 1), Filled(500, 50))},
        {"header update: the pad byte does not fit",
         [&](HMMIO mmio) {
             riff = MMCKINFO{};
             riff.fccType = kWave;
             mmioCreateChunk(mmio, &riff, MMIO_CREATERIFF);
             data = MMCKINFO{};
             data.ckid = mmioFOURCC('d', 'a', 't', 'a');
             mmioCreateChunk(mmio, &data, 0);
             Write(mmio, Filled(1001, 3));
         },
         12 + 8 + 1001,
         [&](HMMIO mmio) {
             return std::vector<long>{mmioAscend(mmio, &data, 0), mmioAscend(mmio, &riff, 0),
                                      mmioClose(mmio, 0)};
         },
         {0, kCannotWrite, kCannotWrite},
         // The data size was written in place; the RIFF size, which would count the pad
         // byte, was not.
         Joined({'R', 'I', 'F', 'F', 0,   0,   0,    0,    'W', 'A',
                 'V', 'E', 'd', 'a', 't', 'a', 0xE9, 0x03, 0,   0},
                Filled(1001, 3))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = dir.File("full.bin");
        HMMIO mmio = mmioOpenA(path.c_str(), nullptr, MMIO_CREATE | MMIO_READWRITE);
        ASSERT_NE(mmio, nullptr);
        c.before(mmio);
        ASSERT_EQ(mmioFlush(mmio, 0), 0u);
        std::vector<long> results;
        {
            FillingDisk disk(c.limit);
            results = c.atLimit(mmio);
        }
        EXPECT_EQ(results, c.results);
        EXPECT_EQ(ReadBytes(path), c.after);
    }
}

TEST(Mmio, BadArgumentsFailWithoutSideEffects) {
    TempDir dir;
    const std::string path = dir.File("s.bin");
    WriteBytes(path, Filled(10, 0));
    HMMIO mmio = mmioOpenA(path.c_str(), nullptr, MMIO_READWRITE);
    ASSERT_NE(mmio, nullptr);
    EXPECT_EQ(mmioSeek(mmio, 4, SEEK_SET), 4);
    EXPECT_EQ(mmioSeek(mmio, -5, SEEK_CUR), -1);
    EXPECT_EQ(mmioSeek(mmio, 0, 7), -1);
    EXPECT_EQ(mmioSeek(mmio, 0, SEEK_CUR), 4);
    EXPECT_EQ(mmioSeek(mmio, -2, SEEK_END), 8);
    char byte = 0;
    EXPECT_EQ(mmioRead(mmio, &byte, -1), -1);
    EXPECT_EQ(mmioWrite(mmio, nullptr, 1), -1);
    EXPECT_EQ(mmioSeek(mmio, 20, SEEK_SET), 20);
    EXPECT_EQ(mmioRead(mmio, &byte, 1), 0);  // past the end
    MMCKINFO blank{};
    blank.dwFlags = MMIO_DIRTY;
    EXPECT_NE(mmioAscend(mmio, &blank, 0), 0u);  // never created: no header to fix
    EXPECT_EQ(mmioClose(mmio, 0), 0u);
    // A closed or null handle is refused, not followed.
    EXPECT_EQ(mmioRead(mmio, &byte, 1), -1);
    EXPECT_EQ(mmioClose(mmio, 0), static_cast<MMRESULT>(MMSYSERR_INVALHANDLE));
    EXPECT_EQ(mmioSeek(nullptr, 0, SEEK_SET), -1);
    EXPECT_EQ(ReadBytes(path), Filled(10, 0));
}

}  // namespace
