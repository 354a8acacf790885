// The file layer below the RIFF type: the factory, the plain-file base, format records, the
// tone source, and MPEG and DAF files written byte by byte.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "support/TempDir.h"
#include "wavfile/WavFileBase.h"
#include "wavfile/WavFileTypeDAF.h"
#include "wavfile/WavFileTypeGenerator.h"
#include "wavfile/WavFileTypeMP23.h"
#include "wavfile/WavFileTypeNullRecord.h"
#include "wavfile/WavFileTypeWav.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

// The name chooses the type; a file that cannot be opened still gives an object that reads
// nothing.
TEST(WavFileFactory, NameChoosesTheTypeAndModeTheOpening) {
    struct Case {
        const char* name;
        const char* mode;
        const char* type;
        int32_t error;
    };
    const Case cases[] = {
        {"null", "w", "N", 0},         {"nUlL", "", "N", 0},       {"null", "r", "N", 11},
        {"null", "a", "N", 11},        {"null.wav", "w", "W", 0},  {"X.WAV", "w", "W", 0},
        {"missing.wav", "r", "W", 11}, {"x.DaF", "r", "D", 11},    {"daf", "r", "M", 11},
        {"x.daf.mp3", "r", "M", 11},   {"", "r", "M", 11},         {"~F440", "r", "G", 0},
        {"~F440", "w", "G", 9},        {"~F440", nullptr, "G", 9}, {"~C3", "r", "G", 11},
    };
    TempDir dir;
    for (const Case& c : cases) {
        const bool bare = std::string(c.name).find('.') == std::string::npos;
        const std::string path = bare ? c.name : dir.File(c.name);
        int32_t error = -1;
        auto file = CreateWavFile(path.c_str(), c.mode, &error);
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(error, c.error) << c.name << " " << (c.mode ? c.mode : "(null)");
        const char type = dynamic_cast<TWavFileTypeNullRecord*>(file.get())  ? 'N'
                          : dynamic_cast<TWavFileTypeWav*>(file.get())       ? 'W'
                          : dynamic_cast<TWavFileTypeDAF*>(file.get())       ? 'D'
                          : dynamic_cast<TWavFileTypeMP23*>(file.get())      ? 'M'
                          : dynamic_cast<TWavFileTypeGenerator*>(file.get()) ? 'G'
                                                                             : '?';
        EXPECT_EQ(type, c.type[0]) << c.name;
        char buffer[8];
        if (c.error == WAVFILE_OPEN_FAILED && c.type[0] != 'G') {  // no file: nothing to read
            EXPECT_EQ(file->Read(buffer, sizeof buffer), 0) << c.name;
        }
    }
}

TEST(WavFmt, FormatsByNameAndMpegLayout) {
    struct Case {
        const char* name;
        int32_t channels, rate, bitRate, result;
        uint16_t tag, blockAlign;
        uint32_t average;
        const char* text;
    };
    const Case cases[] = {
        {"pcm16", 2, 44100, 0, 0, 1, 4, 176400, "Stereo, 44100, PCM16"},
        {"PCM8", 1, 8000, 0, 0, 1, 1, 8000, "Mono, 8000, PCM8"},
        {"float32", 2, 48000, 0, 0, 3, 8, 384000, "Stereo, 48000, FLOAT32"},
        {"PCM24", 6, 48000, 0, 0, 0xFFFE, 18, 864000, "6-Ch, 48000, "},
        {"MP3", 2, 44100, 128000, 0, 80, 417, 15962, "Stereo, 44100, MP3/kb=128"},
        {"MPEG2", 2, 22050, 32000, 0, 80, 209, 4000, "Stereo, 22050, MPEG2/kb=32"},
        {"mp3", 2, 44100, 128000, 0, 80, 835, 31963, "Stereo, 44100, MP3/kb=256"},
        {"MP3", 2, 99, 128000, 0, 80, 0, 0, "Stereo, 99, MP3/kb=128"},  // no division by 0
        {"PCM16", 2, 50000000, 0, 0, 1, 4, 705032704u * 4u / 100u, "Stereo, 50000000, PCM16"},
        {"PCM16X", 2, 44100, 0, 1, 0, 0, 0, "Stereo, 44100, "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TWavFmt fmt;
        EXPECT_EQ(fmt.SetFormat(c.name, c.channels, c.rate, c.bitRate), c.result);
        EXPECT_EQ(fmt.FormatTag(), c.tag);
        EXPECT_EQ(fmt.BlockAlign(), c.blockAlign);
        EXPECT_EQ(fmt.AvgBytesPerSec(), c.average);
        char* text = nullptr;
        fmt.GetFormatText(&text);
        EXPECT_STREQ(text, c.text);
    }
}

int BytesOf(char kind) {
    return kind == '8' ? 1 : kind == '2' ? 3 : kind == '3' ? 4 : 2;
}

// The signed (PCM8: unsigned) sample at index i of the rendered bytes.
int64_t SampleAt(const std::vector<uint8_t>& data, char kind, size_t i) {
    const int b = BytesOf(kind);
    int64_t raw = 0;
    for (int k = 0; k < b; ++k) {
        raw |= static_cast<int64_t>(data.at(i * b + k)) << (8 * k);
    }
    const int64_t top = int64_t{1} << (8 * b - 1);
    return kind == '8' || raw < top ? raw : raw - 2 * top;
}

TEST(Generator, SettingsAreCheckedAndAppliedInOrder) {
    struct Row {
        const char* tone;
        int32_t result, channels;
        double frequency;
        const char* type;
        int32_t rate;
        std::vector<uint8_t> mask;
    };
    const std::vector<uint8_t> on2{1, 1};
    const Row rows[] = {
        {"~", 0, 2, 1000.0, "PCM32", 48000, on2},
        {"~c1,f2.5e3,a-6,s8000,tpcm8", 0, 1, 2500.0, "PCM8", 8000, {1}},
        {"~C3", 11, 2, 1000.0, "PCM32", 48000, on2},
        {"~WSQUARE", 11, 2, 1000.0, "PCM32", 48000, on2},
        {"~C8,Mx0y0", 0, 8, 1000.0, "PCM32", 48000, {1, 0, 1, 0, 1, 1, 1, 1}},
        {"~S44100,F0,C1", 11, 2, 1000.0, "PCM32", 44100, on2},  // stops at the failing key
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.tone);
        int32_t error = -1;
        TWavFileTypeGenerator gen(row.tone, "r", &error);
        EXPECT_EQ(error, row.result);
        EXPECT_EQ(gen.ChannelCount, row.channels);
        EXPECT_EQ(gen.Frequency, row.frequency);
        EXPECT_STREQ(gen.SampleType, row.type);
        EXPECT_EQ(gen.SampleRate, row.rate);
        EXPECT_EQ(gen.ChannelMask, row.mask);
    }
}

// Through the file interface, reads of awkward sizes give whole frames only, written into
// buffers of exactly that size, and follow one continuous sine from phase 0 with the channel
// off in the mask silent. The tone never ends, takes no writes and starts over when reopened.
TEST(Generator, ReadsAnEndlessContinuousTone) {
    int32_t error = -1;
    auto file = CreateWavFile("~F1000,S48000,TPCM32,C2,M10", "r", &error);
    ASSERT_EQ(file->ReadHeader(0), 0);
    EXPECT_EQ(file->BlockAlign(), 8);
    size_t n = 0;
    for (int round = 0; round < 8; ++round) {
        for (int32_t size : {8, 65536, 13, 4096, 1000, 65530, 65536, 24, 7, 32768, -8}) {
            std::vector<uint8_t> out(static_cast<size_t>(std::max(size, 0)));
            const int32_t got = file->Read(out.data(), size);
            ASSERT_EQ(got, std::max(size, 0) / 8 * 8);
            for (int32_t i = 0; i < got / 4; i += 2, ++n) {
                ASSERT_EQ(SampleAt(out, '3', i + 1), 0);
                ASSERT_NEAR(SampleAt(out, '3', i) / 2147483647.0,
                            std::sin(2.0 * M_PI * 1000.0 * static_cast<double>(n) / 48000.0), 1e-4)
                    << "frame " << n;
            }
        }
    }
    EXPECT_GT(n, 200000u);  // about ten phase wraps
    EXPECT_EQ(file->GetRemainingBytes(), 0);
    uint8_t buffer[16];
    EXPECT_EQ(file->Write(buffer, 16), 0);
    EXPECT_EQ(file->Close(), 0);
    EXPECT_EQ(file->Read(buffer, 16), 0);
    ASSERT_EQ(file->Open("~TPCM8,C2,M01", MMIO_READ), 0);
    ASSERT_EQ(file->Read(buffer, 4), 4);
    EXPECT_EQ(Bytes(buffer, buffer + 3), (Bytes{128, 128, 128}));  // silent channel, sin(0)
    EXPECT_GT(buffer[3], 128);
}

// A is decibels of full scale: the peak is 10^(A/20), and above full scale an integer layout
// clips instead of wrapping (+6 dB: at full scale in 30 of the 48 samples of a period).
TEST(Generator, LevelIsDecibelsOfFullScaleAndClips) {
    const std::tuple<const char*, char, double, double, double> rows[] = {
        {"~A-6,TPCM16,C1", '6', 32767, 0.501187, 0},  // tone, SampleAt kind, full scale,
        {"~A-20,TPCM32,C1", '3', 2147483647, 0.1, 0},  // peak, share of samples clipped
        {"~A6,TPCM16,C1", '6', 32767, 1, 0.625},
    };
    for (const auto& [tone, kind, fullScale, peak, clippedShare] : rows) {
        int32_t error = -1;
        auto file = CreateWavFile(tone, "r", &error);
        std::vector<uint8_t> out(4800 * size_t(BytesOf(kind)));  // 100 periods of 1 kHz
        ASSERT_EQ(file->Read(out.data(), int32_t(out.size())), int32_t(out.size())) << tone;
        double high = 0, clipped = 0;
        for (size_t i = 0; i < 4800; ++i) {
            high = std::max(high, std::abs(SampleAt(out, kind, i) / fullScale));
            clipped += std::abs(SampleAt(out, kind, i)) >= fullScale;
        }
        EXPECT_NEAR(high, peak, 0.002) << tone;
        EXPECT_NEAR(clipped / 4800, clippedShare, 0.02) << tone;
    }
}

// A frame-header word. version: 3 = MPEG-1, 2 = MPEG-2; layer field: 2 = layer II, 1 = layer III.
constexpr uint32_t Word(uint32_t version, uint32_t layer, uint32_t bitRateIndex, uint32_t rateIndex,
                        uint32_t mode) {
    return 0xFFE00000u | version << 19 | layer << 17 | 1u << 16 | bitRateIndex << 12 |
           rateIndex << 10 | mode << 6;
}

// An ID3v2 tag of synch-safe size `size`, with a footer that looks like a frame start: taking
// the tag as ten bytes shorter would find it instead of the real frame.
Bytes Id3Tag(uint32_t size, bool footer) {
    Bytes tag = {'I', 'D', '3', 4, 0, static_cast<uint8_t>(footer ? 0x10 : 0)};
    for (int shift = 21; shift >= 0; shift -= 7) {
        tag.push_back(static_cast<uint8_t>((size >> shift) & 0x7F));
    }
    tag.insert(tag.end(), size, 0x20);
    if (footer) {
        tag.insert(tag.end(), {0xFF, 0xFD, 0x94, 0, 0, 0, 0, 0, 0, 0});
    }
    return tag;
}

// A DAF header that would confuse anything that looked into it: "ID3" and a frame sync.
Bytes DafHeader() {
    Bytes header(256, 0xA5);
    header[0] = 'I', header[1] = 'D', header[2] = '3';
    header[10] = 0xFF, header[11] = 0xFB, header[12] = 0x90, header[13] = 0x64;
    return header;
}

// `prefix`, `junk` zero bytes, then a frame: the header word and a body without sync patterns.
Bytes WithFrame(Bytes prefix, size_t junk, uint32_t header, size_t body = 1000) {
    prefix.insert(prefix.end(), junk, 0);
    for (int shift = 24; shift >= 0; shift -= 8) {
        prefix.push_back(static_cast<uint8_t>(header >> shift));
    }
    prefix.insert(prefix.end(), body, 0x55);
    return prefix;
}

std::unique_ptr<TWavFileBase> OpenBytes(TempDir& dir, const char* name, const Bytes& bytes) {
    WriteBytes(dir.File(name), bytes);
    int32_t error = -1;
    auto file = CreateWavFile(dir.File(name).c_str(), "r", &error);
    EXPECT_EQ(error, 0);
    return file;
}

TEST(MpegSearch, FrameOffsetsAroundTagsAndTheScanWindow) {
    constexpr uint32_t kLayer2 = Word(3, 2, 8, 1, 0);
    struct Row {
        const char* what;
        Bytes prefix;
        size_t junk;
        int32_t result;
    };
    const Row rows[] = {
        {"frame at 0", {}, 0, 0},
        {"frame 8188 in", {}, 8188, 0},
        {"frame 8189 in", {}, 8189, 6},
        {"frame 8192 in: final test", {}, 8192, 0},
        {"frame 8193 in", {}, 8193, 6},
        {"tag with footer", Id3Tag(300, true), 0, 0},
        {"tag, all size bytes", Id3Tag((1u << 21) + (2u << 14) + (3u << 7) + 4, false), 0, 0},
        {"tag, frame 8189 after", Id3Tag(100, false), 8189, 6},
        {"footer tag, frame 8192 after", Id3Tag(100, true), 8192, 0},
    };
    TempDir dir;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const Bytes bytes = WithFrame(row.prefix, row.junk, kLayer2);
        auto file = OpenBytes(dir, "search.mp2", bytes);
        uint32_t header = 0xDEADBEEF;
        ASSERT_EQ(dynamic_cast<TWavFileTypeMP23&>(*file).FindFrameHeader(&header), row.result);
        EXPECT_EQ(header, row.result == 0 ? kLayer2 : 0u);
        ASSERT_EQ(file->ReadHeader(0), row.result);
        if (row.result != 0) {
            EXPECT_EQ(file->FormatTag(), 0);
            continue;
        }
        const size_t frame = row.prefix.size() + row.junk;
        Bytes data(bytes.size());
        data.resize(static_cast<size_t>(file->Read(data.data(), 100000)));
        EXPECT_EQ(data, Bytes(bytes.begin() + frame, bytes.end()));
    }
}

TEST(MpegSearch, FilesWithoutADecodableFrameFailWithoutFault) {
    Bytes cutTag = Id3Tag(1000, false);
    cutTag.resize(600);
    Bytes hugeTag = Id3Tag(0, false);
    hugeTag[6] = hugeTag[7] = hugeTag[8] = hugeTag[9] = 0xFF;  // masked to 7 bits each
    const std::pair<const char*, Bytes> rows[] = {
        {"e.mp3", {}},
        {"e.mp3", cutTag},
        {"e.mp3", hugeTag},
        {"e.mp3", WithFrame({}, 0, Word(3, 3, 8, 0, 0))},  // layer I
        {"e.mp3", WithFrame({}, 0, 0xFFE39064u)},          // MPEG-2.5 sync
        {"e.daf", WithFrame(DafHeader(), 0, Word(3, 3, 8, 0, 0))},
        {"e.daf", Bytes(259, 0)},  // less than one word behind the header
    };
    TempDir dir;
    for (const auto& [name, bytes] : rows) {
        auto opened = OpenBytes(dir, name, bytes);
        EXPECT_EQ(opened->ReadHeader(0), 6) << name << " " << bytes.size();
        EXPECT_EQ(opened->FormatTag(), 0);
        EXPECT_EQ(opened->DataLength, 0);
    }
}

// The format of the first frame, and the position: at the frame for reading, at the end for
// appending. A DAF file without a frame behind its header holds 16-bit stereo PCM.
TEST(MpegFormat, RecordAndPositionAfterReadHeader) {
    struct Row {
        const char* name;
        Bytes bytes;
        uint16_t tag, channels;
        uint32_t rate, bitRate;
        uint16_t layer, blockAlign;
    };
    const Bytes tag = Id3Tag(50, false);
    const Row rows[] = {
        {"a.mp2", WithFrame(tag, 0, Word(3, 2, 12, 1, 0)), 80, 2, 48000, 256000, 2, 768},
        {"a.mp3", WithFrame(tag, 0, Word(3, 1, 9, 0, 1)), 80, 2, 44100, 128000, 4, 417},
        {"a.mp3", WithFrame({}, 0, Word(2, 2, 8, 0, 3)), 80, 1, 22050, 64000, 2, 418},
        {"a.mp3", WithFrame({}, 0, Word(2, 1, 8, 1, 3)), 80, 1, 24000, 64000, 4, 384},
        {"a.mp3", WithFrame({}, 0, Word(3, 1, 0, 0, 2)), 80, 2, 44100, 0, 4, 0},  // free format
        {"a.DAF", WithFrame(DafHeader(), 0, Word(3, 1, 9, 0, 3)), 80, 1, 44100, 128000, 4, 417},
        {"a.daf", WithFrame(DafHeader(), 0, 0x07070707u), 1, 2, 44100, 0, 0, 4},
    };
    TempDir dir;
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.name << " " << &row - rows);
        for (int32_t flag : {0, 1}) {
            auto file = OpenBytes(dir, row.name, row.bytes);
            ASSERT_EQ(file->ReadHeader(flag), 0);
            EXPECT_EQ(file->FormatTag(), row.tag);
            EXPECT_EQ(file->Channels(), row.channels);
            EXPECT_EQ(file->SamplesPerSec(), row.rate);
            EXPECT_EQ(file->BlockAlign(), row.blockAlign);
            if (row.tag == WAVE_TAG_MPEG) {
                EXPECT_EQ(file->Get32(WavFmtOffset::HeadBitRate), row.bitRate);
                EXPECT_EQ(file->Get16(WavFmtOffset::HeadLayer), row.layer);
            }
            EXPECT_EQ(file->DataLength, 1004);
            Bytes data(2000);
            data.resize(static_cast<size_t>(file->Read(data.data(), 2000)));
            EXPECT_EQ(data, flag == 0 ? Bytes(row.bytes.end() - 1004, row.bytes.end()) : Bytes{});
        }
    }
}

TEST(DafFile, CreatingWritesAZeroHeaderBeforeTheData) {
    TempDir dir;
    const std::string path = dir.File("new.daf");
    WriteBytes(path, Bytes(5000, 0x77));  // truncated by creation
    const Bytes data = WithFrame({}, 0, 0x01020304u, 1496);
    {
        int32_t error = -1;
        auto file = CreateWavFile(path.c_str(), "w", &error);
        ASSERT_EQ(error, 0);
        EXPECT_EQ(file->WriteHeader(), 0);
        EXPECT_EQ(file->Write(data.data(), 1000), 1000);
        EXPECT_EQ(file->Write(data.data() + 1000, 500), 500);
    }
    Bytes expected(256 + data.size(), 0);
    std::copy(data.begin(), data.end(), expected.begin() + 256);
    EXPECT_EQ(ReadBytes(path), expected);

    int32_t error = -1;
    // A header that cannot be written in full is reported, not passed over.
    TWavFileTypeDAF full("", "w", &error);
    EXPECT_EQ(full.Open("/dev/full", MMIO_CREATE | MMIO_READWRITE), 9);
}

}  // namespace
