// Buffered (mmio) files against a model and on a full disk.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <platform/mmio.h>
#include "support/FillingDisk.h"
#include "support/TempDir.h"

using testsupport::FillingDisk;
using testsupport::ReadBytes;
using testsupport::TempDir;

namespace {

using Bytes = std::vector<uint8_t>;

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

Bytes Joined(Bytes first, const Bytes& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// A disk that fills: the call that meets the limit reports it, every later call that needs
// the lost bytes fails too, and what reached the file before stays as it was.
TEST(Mmio, AFullDiskIsReportedByEveryCallItAffects) {
    using Results = std::vector<long>;
    const long kCannot = MMIOERR_CANNOTWRITE;
    TempDir dir;
    const std::string path = dir.File("full.bin");
    // The first write, far out, is only buffered and cannot know yet; one at the start can.
    HMMIO mmio = mmioOpenA(path.c_str(), nullptr, MMIO_CREATE | MMIO_READWRITE);
    Results results;
    {
        FillingDisk disk(100);
        mmioSeek(mmio, 200000, SEEK_SET);
        const long far = Write(mmio, Filled(10, 1));
        mmioSeek(mmio, 0, SEEK_SET);
        results = {far, Write(mmio, Filled(10, 1)), mmioFlush(mmio, 0), mmioClose(mmio, 0)};
    }
    EXPECT_EQ(results, (Results{10, -1, kCannot, kCannot}));
    EXPECT_EQ(ReadBytes(path), Bytes{});
    // A later write.
    mmio = mmioOpenA(path.c_str(), nullptr, MMIO_CREATE | MMIO_READWRITE);
    Write(mmio, Filled(1000, 1));
    ASSERT_EQ(mmioFlush(mmio, 0), 0u);
    {
        FillingDisk disk(1500);
        results = {Write(mmio, Filled(2000, 50)), mmioFlush(mmio, 0),
                   mmioFlush(mmio, MMIO_EMPTYBUF), mmioClose(mmio, 0)};
    }
    EXPECT_EQ(results, (Results{2000, kCannot, kCannot, kCannot}));
    EXPECT_EQ(ReadBytes(path), Joined(Filled(1000, 1), Filled(500, 50)));
}

}  // namespace
