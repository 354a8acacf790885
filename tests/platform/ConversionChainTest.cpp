// The conversion chain alone, without a thread or a clock: bytes in, sink bytes out, and
// where the output of the input given so far ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/WaveOutHarness.h"
#include "platform/waveout/ConversionChain.h"
#include "support/MpegReference.h"
#include "support/TempDir.h"

using platform::ConversionChain;
using platform::StreamFormat;
using waveouttest::MeasureFrequency;
using waveouttest::NoiseBytes;

namespace {

using Coding = StreamFormat::Coding;

StreamFormat Format(Coding coding, uint16_t channels, uint16_t bits, uint32_t mask = 0,
                    uint32_t rate = 48000) {
    StreamFormat format;
    format.coding = coding;
    format.channels = channels;
    format.rate = rate;
    format.bitsPerSample = bits;
    format.blockAlign = static_cast<uint16_t>(channels * bits / 8);
    format.channelMask = mask;
    return format;
}

// Feeds `input` in pieces of the given sizes in turn; after each piece the output holds
// whole frames and is counted.
std::vector<uint8_t> FeedInPieces(ConversionChain& chain, const std::vector<uint8_t>& input,
                                  const std::vector<size_t>& pieces) {
    std::vector<uint8_t> out;
    const size_t frame = chain.Sink().FrameBytes();
    for (size_t at = 0, i = 0; at < input.size(); ++i) {
        const size_t piece = std::min(pieces[i % pieces.size()], input.size() - at);
        chain.Write(input.data() + at, piece, &out);
        at += piece;
        EXPECT_EQ(out.size() % frame, 0u);
        EXPECT_EQ(chain.Produced() * frame, out.size());
    }
    return out;
}

double S8(const uint8_t* p) {
    return (p[0] - 128) / 128.0;
}
double S16(const uint8_t* p) {
    return static_cast<int16_t>(p[0] | p[1] << 8) / 32768.0;
}
double S24(const uint8_t* p) {
    return static_cast<int32_t>(static_cast<uint32_t>(p[0] << 8 | p[1] << 16 | p[2] << 24)) /
           2147483648.0;
}
double S32(const uint8_t* p) {
    int32_t v;
    std::memcpy(&v, p, 4);
    return v / 2147483648.0;
}
double F32(const uint8_t* p) {
    float v;
    std::memcpy(&v, p, 4);
    return v;
}

std::vector<double> Samples(const std::vector<uint8_t>& bytes, double (*sample)(const uint8_t*),
                            size_t width) {
    std::vector<double> out;
    for (size_t i = 0; i + width <= bytes.size(); i += width) {
        out.push_back(sample(&bytes[i]));
    }
    return out;
}

// PCM and float reach the sink as whole frames, byte for byte at full volume (a part frame
// waits for the next piece), and scaled per channel by the volume word.
TEST(ConversionChain, PcmPassesWholeFramesAndTakesTheGain) {
    const double left = 0x8000 / 65535.0, right = 0x4000 / 65535.0;
    struct Case {
        const char* what;
        StreamFormat format;
        double (*sample)(const uint8_t*);
        size_t width;
        std::vector<double> gains;  // at volume 0x4000'8000
    };
    const Case cases[] = {
        {"PCM8 mono", Format(Coding::Pcm, 1, 8), S8, 1, {left}},
        {"PCM16", Format(Coding::Pcm, 2, 16), S16, 2, {left, right}},
        {"PCM24 front three", Format(Coding::Pcm, 3, 24, 0x7), S24, 3, {left, right, left}},
        {"PCM32", Format(Coding::Pcm, 2, 32), S32, 4, {left, right}},
        {"float", Format(Coding::Float, 2, 32), F32, 4, {left, right}},
    };
    for (const Case& c : cases) {
        const size_t frame = c.width * c.format.channels;
        std::vector<uint8_t> audio = NoiseBytes(frame * 4000, 99);
        if (c.format.coding == Coding::Float) {
            for (size_t i = 0; i < audio.size(); i += 4) {
                const float v = static_cast<float>(audio[i] - 128) / 256.0f;
                std::memcpy(&audio[i], &v, 4);
            }
        }
        for (DWORD volume : {0xFFFFFFFFu, 0x4000'8000u}) {
            ConversionChain chain(c.format);
            ASSERT_TRUE(chain.Ready());
            chain.SetVolume(volume);
            const std::vector<uint8_t> out = FeedInPieces(chain, audio, {1, 4001, 3, 7, 2});
            EXPECT_EQ(chain.InputEnd(), chain.Produced()) << c.what;
            std::vector<uint8_t> flushed;
            EXPECT_EQ(chain.Flush(&flushed), audio.size() / frame) << c.what;
            EXPECT_TRUE(flushed.empty()) << c.what;
            ASSERT_EQ(out.size(), audio.size()) << c.what;
            if (volume == 0xFFFFFFFFu) {
                EXPECT_TRUE(out == audio) << c.what << ": bytes changed at full volume";
                continue;
            }
            const std::vector<double> in = Samples(audio, c.sample, c.width);
            const std::vector<double> scaled = Samples(out, c.sample, c.width);
            for (size_t i = 0; i < in.size(); ++i) {
                ASSERT_NEAR(scaled[i], in[i] * c.gains[i % c.gains.size()], 1.0 / 120)
                    << c.what << " sample " << i;
            }
        }
    }
}

// MPEG layers II and III, stereo and mono, come out exactly as mpg123 decodes them, fed in
// odd-sized pieces; a reset in the middle of a frame starts the decoder afresh.
TEST(ConversionChain, MpegEqualsTheReferenceDecoder) {
    struct Case {
        const char* what;
        const char* soxFormat;
        const char* encoder;
        uint16_t channels;
        uint32_t rate;
    };
    const Case cases[] = {
        {"layer II", "-r 48000 -c 2", "twolame --quiet -b 192", 2, 48000},
        {"layer III", "-r 48000 -c 2", "lame --quiet -b 128", 2, 48000},
        {"layer III mono", "-r 44100 -c 1", "lame --quiet -b 64", 1, 44100},
    };
    for (const Case& c : cases) {
        testsupport::TempDir dir;
        const testsupport::MpegReference reference = testsupport::MakeMpegReference(
            dir, c.soxFormat, "synth 1.3 sine 440 sine 660 gain -6", c.encoder);
        if (!reference.missing.empty()) {
            GTEST_SKIP() << reference.missing << " is missing";
        }
        ASSERT_GT(reference.decoded.size(), c.rate * c.channels * 2u) << c.what;
        ConversionChain chain(Format(Coding::Mpeg, c.channels, 0, 0, c.rate));
        ASSERT_TRUE(chain.Ready());
        const std::vector<uint8_t> start(reference.coded.begin(),
                                         reference.coded.begin() + 7001);  // ends inside a frame
        const std::vector<uint8_t> early = FeedInPieces(chain, start, {1, 417, 999});
        ASSERT_LE(early.size(), reference.decoded.size());
        EXPECT_TRUE(std::equal(early.begin(), early.end(), reference.decoded.begin())) << c.what;
        chain.Reset();
        EXPECT_EQ(chain.Produced(), 0u);
        std::vector<uint8_t> out = FeedInPieces(chain, reference.coded, {1, 417, 5000, 999, 16384});
        chain.Flush(&out);
        EXPECT_EQ(chain.InputEnd(), out.size() / chain.Sink().FrameBytes());
        EXPECT_EQ(out.size(), reference.decoded.size()) << c.what;
        EXPECT_TRUE(out == reference.decoded) << c.what << ": decoded audio differs";
    }
}

// The stretch plays each stretch of input at its own factor and the same pitch: the output's
// length is the factors times the input to within 1 %, the input's end that the chain
// reports keeps to that after every piece (what the stretcher holds back included), and it
// meets the output exactly after a flush, where the count starts again. The 24-bit and
// float samples go through the stretcher's floats and back as the 16-bit ones do.
TEST(ConversionChain, StretchKeepsLengthPitchAndAccounting) {
    struct Segment {
        DWORD stretch;
        size_t frames;
    };
    struct Case {
        const char* what;
        std::vector<Segment> segments;
        double gain = 1.0;
    };
    const Case cases[] = {
        {"longer", {{11000, 48000}}},
        {"shorter at half volume", {{8000, 48000}}, 0.5},
        {"longer then shorter at half volume", {{11000, 24000}, {8000, 24000}}, 0.5},
        {"plain then longer", {{10000, 24000}, {11000, 24000}}},
        {"longer then plain", {{12000, 24000}, {10000, 24000}}},
    };
    const size_t kPiece = 16384;
    for (const Case& c : cases) {
        size_t total = 0;
        for (const Segment& s : c.segments) {
            total += s.frames;
        }
        const std::vector<uint8_t> tone16 = waveouttest::StereoTone(1000, 1500, 48000, total);
        // The same tone as 24-bit and float samples.
        std::vector<uint8_t> tone24, toneFloat;
        for (size_t i = 0; i < tone16.size(); i += 2) {
            const int16_t v = static_cast<int16_t>(tone16[i] | tone16[i + 1] << 8);
            const uint8_t s24[3] = {0, tone16[i], tone16[i + 1]};
            tone24.insert(tone24.end(), s24, s24 + 3);
            const float f = v / 32768.0f;
            const auto* bytes = reinterpret_cast<const uint8_t*>(&f);
            toneFloat.insert(toneFloat.end(), bytes, bytes + 4);
        }
        struct Run {
            StreamFormat format;
            const std::vector<uint8_t>* tone;
            double (*sample)(const uint8_t*);
            size_t width;
        };
        const Run runs[] = {{Format(Coding::Pcm, 2, 16), &tone16, S16, 2},
                            {Format(Coding::Pcm, 2, 24), &tone24, S24, 3},
                            {Format(Coding::Float, 2, 32), &toneFloat, F32, 4}};
        std::vector<double> reference;
        for (const Run& run : runs) {
            ConversionChain chain(run.format);
            chain.SetVolume(c.gain == 1.0 ? 0xFFFFFFFF : 0x8000'8000);
            const size_t frame = chain.Sink().FrameBytes();
            std::vector<uint8_t> out;
            double expected = 0;  // output frames the input so far should make
            size_t at = 0;
            for (const Segment& s : c.segments) {
                if (chain.SetStretch(s.stretch, &out)) {  // flushed: the count starts again
                    EXPECT_EQ(chain.InputEnd(), chain.Produced()) << c.what;
                    EXPECT_NEAR(static_cast<double>(chain.Produced()), expected, expected / 100);
                    expected = static_cast<double>(chain.Produced());
                }
                const size_t end = at + s.frames * frame;
                for (; at < end; at += std::min(kPiece, end - at)) {
                    const size_t piece = std::min(kPiece, end - at);
                    const uint64_t inputEnd = chain.Write(run.tone->data() + at, piece, &out);
                    expected += piece / frame * (s.stretch / 10000.0);
                    EXPECT_GE(inputEnd, chain.Produced());
                    EXPECT_NEAR(static_cast<double>(inputEnd), expected, expected / 100 + 2)
                        << c.what;
                }
            }
            const uint64_t inputEnd = chain.Flush(&out);
            EXPECT_EQ(inputEnd, chain.Produced()) << c.what;
            EXPECT_EQ(inputEnd * frame, out.size()) << c.what;
            EXPECT_NEAR(static_cast<double>(inputEnd), expected, expected / 100) << c.what;
            const std::vector<double> samples = Samples(out, run.sample, run.width);
            if (run.tone != &tone16) {
                ASSERT_EQ(samples.size(), reference.size()) << c.what;
                for (size_t i = 0; i < samples.size(); ++i) {
                    ASSERT_NEAR(samples[i], reference[i], 1.0 / 32768) << c.what << " " << i;
                }
                continue;
            }
            reference = samples;
            // The tone's amplitude 0.5 times the gain, in every part of the output.
            const size_t tenth = samples.size() / 10;
            for (size_t part = 0; part < 10; ++part) {
                double peak = 0;
                for (size_t i = part * tenth; i < (part + 1) * tenth; ++i) {
                    peak = std::max(peak, std::abs(samples[i]));
                }
                EXPECT_NEAR(peak, 0.5 * c.gain, 0.03) << c.what << " part " << part;
            }
            EXPECT_NEAR(MeasureFrequency(out, 2, 0, 48000), 1000, 10) << c.what;
            EXPECT_NEAR(MeasureFrequency(out, 2, 1, 48000), 1500, 15) << c.what;
            const Segment& last = c.segments.back();
            if (last.stretch == 10000) {  // after the stretch the bytes pass unchanged
                const size_t bytes = last.frames * frame;
                EXPECT_TRUE(std::equal(tone16.end() - static_cast<ptrdiff_t>(bytes), tone16.end(),
                                       out.end() - static_cast<ptrdiff_t>(bytes)))
                    << c.what;
            }
        }
    }
}

// A reset drops a part frame, what the stretcher holds and the counts: what follows comes
// out as if the chain were new.
TEST(ConversionChain, ResetDropsEverything) {
    for (DWORD stretch : {10000u, 11000u}) {
        ConversionChain chain(Format(Coding::Pcm, 2, 16));
        std::vector<uint8_t> out;
        chain.SetStretch(stretch, &out);
        const std::vector<uint8_t> audio = waveouttest::StereoTone(700, 900, 48000, 24000);
        chain.Write(audio.data(), 3, &out);
        chain.Write(audio.data(), 20000, &out);
        chain.Reset();
        EXPECT_EQ(chain.Produced(), 0u) << stretch;
        EXPECT_EQ(chain.InputEnd(), 0u) << stretch;
        std::vector<uint8_t> after;
        chain.Flush(&after);
        EXPECT_TRUE(after.empty()) << stretch << ": something was held across the reset";
        after = FeedInPieces(chain, audio, {audio.size()});
        chain.Flush(&after);
        if (stretch == 10000) {
            EXPECT_TRUE(after == audio);
        } else {
            EXPECT_NEAR(after.size() / 4.0, 24000 * 1.1, 24000 * 1.1 / 100);
        }
    }
}

}  // namespace
