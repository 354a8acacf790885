// The platform's parts alone: the conversion chain (bytes in, sink bytes out, and where each
// input ends in it), the play-out and server clocks with the time passed in, device names and
// the terminal's status line.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "platform/waveout/ConversionChain.h"
#include "platform/waveout/DeviceList.h"
#include "platform/waveout/PlayoutClock.h"
#include "platform/waveout/pulse/ServerClock.h"
#include "platform/window/headless/StatusLineFit.h"
#include "support/Noise.h"
#include "support/TempDir.h"

using platform::ConversionChain;
using platform::PlayoutClock;
using platform::ServerClock;
using platform::StreamFormat;
using namespace std::chrono_literals;

namespace {

using Coding = StreamFormat::Coding;

// One sample of `width` bytes as a fraction of full scale: PCM8 unsigned, wider PCM signed
// little-endian (placed at the top of 32 bits), float as it is.
double SampleValue(const uint8_t* p, Coding coding, size_t width) {
    if (coding == Coding::Float) {
        float v;
        std::memcpy(&v, p, 4);
        return v;
    }
    if (width == 1) {
        return (p[0] - 128) / 128.0;
    }
    uint32_t top = 0;
    for (size_t k = 0; k < width; ++k) {
        top |= static_cast<uint32_t>(p[k]) << (8 * (4 - width + k));
    }
    return static_cast<int32_t>(top) / 2147483648.0;
}

// 16-bit stereo at 48 kHz: a sine at half of full scale on the left, another on the right.
std::vector<uint8_t> StereoTone(double leftHz, double rightHz, size_t frames) {
    std::vector<uint8_t> out(frames * 4);
    for (size_t i = 0; i < frames * 2; ++i) {
        const double hz = i % 2 == 0 ? leftHz : rightHz;
        const auto v = static_cast<int16_t>(
            std::lround(0.5 * 32767 * std::sin(2 * M_PI * hz * double(i / 2) / 48000)));
        std::memcpy(&out[i * 2], &v, 2);
    }
    return out;
}

// Frequency of one channel of 16-bit stereo at 48 kHz from its rising zero crossings.
double MeasureFrequency(const std::vector<uint8_t>& pcm, int channel) {
    std::vector<size_t> rises;
    for (size_t i = 1; i < pcm.size() / 4; ++i) {
        const uint8_t* before = &pcm[(2 * i - 2 + channel) * 2];
        if (SampleValue(before, Coding::Pcm, 2) < 0 &&
            SampleValue(before + 4, Coding::Pcm, 2) >= 0) {
            rises.push_back(i);
        }
    }
    return rises.size() < 2 ? 0 : (rises.size() - 1) * 48000.0 / (rises.back() - rises.front());
}

// Feeds `input` in pieces of the given sizes in turn; the output holds whole frames, counted.
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

// PCM and float reach the sink as whole frames, byte for byte at full volume (a part frame
// waits for the next piece), and scaled per channel by the volume word.
TEST(ConversionChain, PcmPassesWholeFramesAndTakesTheGain) {
    const double left = 0x8000 / 65535.0, right = 0x4000 / 65535.0;
    const struct {
        Coding coding;
        uint16_t channels, bits;
    } cases[] = {{Coding::Pcm, 1, 8},
                 {Coding::Pcm, 2, 16},
                 {Coding::Pcm, 3, 24},
                 {Coding::Pcm, 2, 32},
                 {Coding::Float, 2, 32}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bits << " bits, " << c.channels << " channels");
        const size_t width = c.bits / 8u, frame = width * c.channels;
        std::vector<uint8_t> audio = testsupport::NoiseBytes(frame * 4000, 99);
        for (size_t i = 0; c.coding == Coding::Float && i < audio.size(); i += 4) {
            const float v = static_cast<float>(audio[i] - 128) / 256.0f;
            std::memcpy(&audio[i], &v, 4);
        }
        for (DWORD volume : {0xFFFFFFFFu, 0x4000'8000u}) {
            ConversionChain chain(StreamFormat{.coding = c.coding,
                                               .channels = c.channels,
                                               .rate = 48000,
                                               .blockAlign = static_cast<uint16_t>(frame),
                                               .bitsPerSample = c.bits,
                                               .channelMask = c.channels == 3 ? 7u : 0u});
            chain.SetVolume(volume);
            const std::vector<uint8_t> out = FeedInPieces(chain, audio, {1, 4001, 3, 7, 2});
            std::vector<uint8_t> flushed;
            EXPECT_EQ(chain.Flush(&flushed), audio.size() / frame);
            ASSERT_TRUE(flushed.empty() && out.size() == audio.size());
            for (size_t i = 0; volume != 0xFFFFFFFFu && i < audio.size() / width; ++i) {
                ASSERT_NEAR(SampleValue(&out[i * width], c.coding, width),
                            SampleValue(&audio[i * width], c.coding, width) *
                                (i % c.channels == 1 ? right : left),
                            1.0 / 120)
                    << "sample " << i;
            }
            EXPECT_TRUE(volume != 0xFFFFFFFFu || out == audio) << "bytes changed at full volume";
        }
    }
}

// MPEG layers II and III come out exactly as mpg123 decodes them, fed in odd-sized pieces;
// a reset in the middle of a frame starts the decoder afresh.
TEST(ConversionChain, MpegEqualsTheReferenceDecoder) {
    if (std::system("for t in sox lame twolame mpg123; do command -v $t >/dev/null || exit 1; "
                    "done") != 0) {
        GTEST_SKIP() << "sox, lame, twolame or mpg123 is missing";
    }
    const struct {
        const char* what;
        const char* soxFormat;
        const char* encoder;
        uint16_t channels;
        uint32_t rate;
    } cases[] = {
        {"layer II", "-r 48000 -c 2", "twolame --quiet -b 192", 2, 48000},
        {"layer III", "-r 48000 -c 2", "lame --quiet -b 128", 2, 48000},
        {"layer III mono", "-r 44100 -c 1", "lame --quiet -b 64", 1, 44100},
    };
    for (const auto& c : cases) {
        // A tone coded by the encoder, and what mpg123 decodes it to.
        testsupport::TempDir dir;
        const std::string wav = dir.File("a.wav"), coded = dir.File("a.mpeg"),
                          raw = dir.File("a.raw");
        ASSERT_EQ(std::system((std::string("sox -n ") + c.soxFormat + " -b 16 " + wav +
                               " synth 1.3 sine 440 sine 660 gain -6 && " + c.encoder + " " + wav +
                               " " + coded + " && mpg123 -q -s " + coded + " > " + raw)
                                  .c_str()),
                  0);
        const struct {
            std::vector<uint8_t> coded, decoded;
        } reference{testsupport::ReadBytes(coded), testsupport::ReadBytes(raw)};
        ASSERT_GT(reference.decoded.size(), c.rate * c.channels * 2u) << c.what;
        ConversionChain chain(
            StreamFormat{.coding = Coding::Mpeg, .channels = c.channels, .rate = c.rate});
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

// Each half of the input plays at its own stretch and the same pitch: the reported input end
// keeps to the factors within 1 % after every piece and meets the output after a flush.
TEST(ConversionChain, StretchKeepsLengthPitchAndAccounting) {
    const size_t kHalf = 24000, kPiece = 16384;
    const std::vector<uint8_t> tone16 = StereoTone(1000, 1500, 2 * kHalf);
    for (const auto& stretches :
         {std::array<DWORD, 2>{11000, 8000}, {10000, 11000}, {12000, 10000}}) {
        const DWORD what = stretches[0];
        ConversionChain chain(
            StreamFormat{.channels = 2, .rate = 48000, .blockAlign = 4, .bitsPerSample = 16});
        const size_t frame = chain.Sink().FrameBytes();
        std::vector<uint8_t> out;
        double expected = 0;  // output frames the input so far should make
        size_t at = 0;
        for (DWORD stretch : stretches) {
            if (chain.SetStretch(stretch, &out)) {  // flushed: the count starts again
                EXPECT_EQ(chain.InputEnd(), chain.Produced()) << what;
                EXPECT_NEAR(static_cast<double>(chain.Produced()), expected, expected / 100);
                expected = static_cast<double>(chain.Produced());
            }
            for (const size_t end = at + kHalf * frame; at < end;) {
                const size_t piece = std::min(kPiece, end - at);
                const uint64_t inputEnd = chain.Write(tone16.data() + at, piece, &out);
                at += piece;
                expected += piece / frame * (stretch / 10000.0);
                EXPECT_GE(inputEnd, chain.Produced());
                EXPECT_NEAR(static_cast<double>(inputEnd), expected, expected / 100 + 2) << what;
            }
        }
        const uint64_t inputEnd = chain.Flush(&out);
        EXPECT_EQ(inputEnd, chain.Produced()) << what;
        EXPECT_EQ(inputEnd * frame, out.size()) << what;
        EXPECT_NEAR(static_cast<double>(inputEnd), expected, expected / 100) << what;
        EXPECT_NEAR(MeasureFrequency(out, 0), 1000, 10) << what;
        EXPECT_NEAR(MeasureFrequency(out, 1), 1500, 15) << what;
        if (stretches[1] == 10000) {  // after the stretch the bytes pass unchanged
            const auto bytes = static_cast<ptrdiff_t>(kHalf * frame);
            EXPECT_TRUE(std::equal(tone16.end() - bytes, tone16.end(), out.end() - bytes));
        }
    }
}

// It runs on from a reading at the rate and never passes the end of what was written; a time
// before the reading counts as the reading, and 400 days at 768 kHz do not overflow. (Pausing,
// running dry and going on are the contract's, on Null Output.)
TEST(PlayoutClock, RunsOnFromAReadingAndNeverPassesTheEnd) {
    const PlayoutClock::Time t0 = std::chrono::steady_clock::now();
    const auto played = [&](uint64_t rate, uint64_t from, uint64_t end, int64_t ms) {
        PlayoutClock clock(rate);
        clock.Start(t0, from, end);
        return clock.PlayedAt(t0 + std::chrono::milliseconds(ms));
    };
    EXPECT_EQ(played(48000, 1000, 5000, -5), 1000u);
    EXPECT_EQ(played(48000, 1000, 5000, 10), 1480u);
    EXPECT_EQ(played(48000, 1000, 5000, 1000), 5000u);
    EXPECT_EQ(played(48000, 900, 800, 50), 800u);
    EXPECT_EQ(played(44100, 0, UINT64_MAX, 1), 44u);
    EXPECT_EQ(played(768000, 7, UINT64_MAX, 400 * 86400000LL), 26542080000000ull + 7);
    EXPECT_EQ(played(48000, UINT64_MAX - 10, UINT64_MAX, 1000), UINT64_MAX);
}

// What the server's answers mean, driven by scripted answer sequences at 1000 frames a second
// (a frame a millisecond). A step is "<ms> <event><frames>" then its checks: "=" confirmed,
// "~" shown, "!" silent (0/1), "?" a question due (0/1), "d" dry (0/1). Events: W written,
// E ending, N wanted (N<frames>/<then>: and those after), A asked, R read (the server's
// clock), U underflow, V viewed, L look.
TEST(ServerClock, ScriptedAnswers) {
    const std::pair<const char*, const char*> cases[] = {
        {"steady play: asked at once, shown runs on 200 ms at most, never past what was written",
         "0 V =0 ~0 !0 ?1; 0 W1000; 0 A ?0; 50 R50 =50 ~50 ?0; 99 L ~99 ?0; 100 L ?1;"
         "900 L =50 ~250 !0; 950 R990 =990; 1500 L =990 ~1000"},
        {"nobody looking: asked once a second, a wanted position when due; a look at the "
         "position brings back the 100 ms pace",
         "0 W90000; 0 A; 10 R10; 110 L ?0; 999 L ?0; 1000 L ?1; 1000 A; 1010 R1010; 1010 N1500;"
         "1501 L ?0; 1502 L ?1; 1502 A; 1505 R1500; 1530 V; 1601 L ?0; 1602 L ?1"},
        {"a wanted position is asked for when due, not only every 100 ms; so is the next named",
         "0 W5000; 0 A; 10 R10; 10 N40/400; 41 L ?0; 42 L ?1; 42 A; 45 R43 =43; 403 L ?0;"
         "404 L ?1"},
        {"an answer that never comes: silent after 3 s, not before; a late one ends the silence",
         "0 W1000; 0 A; 2999 L =0 !0 ?0; 3000 L !1; 3001 R500 =500 !0"},
        {"a stall mid-file: the position stops, shown 200 ms on at most; a catch-up burst does "
         "not hand back the end before the server has run dry",
         "0 W800; 0 A; 100 R100; 100 A; 2000 L =100 ~300 !0; 2100 R1900 =799 ~799"},
        {"an underrun mid-file is not the end: more data, and the clock goes on from the server's",
         "0 W500; 0 A; 400 R400; 500 U500 =500; 600 W900; 600 E1; 600 A; 650 R550 =550 ~550"},
        {"the end: the server's clock stops 50 ms before it; that latency plays out as far as the "
         "server has answered since",
         "0 W1000; 0 E1; 0 A; 900 R900; 950 U950 =950 ?1; 951 A; 955 R950 =950; 960 A;"
         "970 R950 =965; 1100 L =965; 1005 A; 1010 R950 =1000"},
        {"a drain's answer covers only what was written before it was asked: audio written "
         "since is not the end, though the server (waiting to start it) says nothing more; the "
         "next audio goes where the server reads only once it has run dry of all written",
         "0 L d1; 0 W500 d0; 0 E1; 0 A; 400 R400; 500 U500 =500 d1; 700 W900 d0; 700 E1;"
         "700 U500/500 =500 d0; 701 A;"
         "705 R500; 801 A; 805 R500; 901 A; 905 R500; 1001 A; 1005 R500; 1101 A; 1105 R500 =500;"
         "1201 A; 1205 R600 =600; 1500 U900/900 =900 d1"},
        {"a stall in the end's play-out: nothing of the latency counts while the server was silent",
         "0 W1000; 0 E1; 0 A; 950 U950; 951 A; 955 R950 =950; 960 A; 970 R950 =965; 971 A;"
         "2970 R950 =965; 2971 A; 2990 R950 =985; 3001 A; 3005 R950 =1000"},
    };
    const ServerClock::Time t0 = std::chrono::steady_clock::now();
    for (const auto& [what, script] : cases) {
        SCOPED_TRACE(what);
        ServerClock clock(1000);
        std::istringstream steps(script);
        for (std::string step; std::getline(steps, step, ';');) {
            SCOPED_TRACE(step);
            std::istringstream words(step);
            long ms = 0;
            std::string event;
            words >> ms >> event;
            const ServerClock::Time now = t0 + std::chrono::milliseconds(ms);
            const uint64_t frames = event.size() > 1 ? std::stoull(event.substr(1)) : 0;
            const size_t slash = event.find('/');  // a second number follows it
            const auto after = [&](uint64_t none) {
                return slash == std::string::npos ? none : std::stoull(event.substr(slash + 1));
            };
            switch (event[0]) {
                case 'W':
                    clock.Written(frames);
                    break;
                case 'E':
                    clock.SetEnding(frames != 0);
                    break;
                case 'N':
                    clock.Want(frames, after(0));
                    break;
                case 'A':
                    clock.Asked(now);
                    break;
                case 'V':
                    clock.Viewed(now);
                    break;
                case 'R':
                    clock.Reading(now, frames);
                    break;
                case 'U':  // U<server>[/<frames the server ran dry after>]
                    clock.Underflow(now, frames, after(clock.WrittenFrames()));
                    break;
            }
            for (std::string check; words >> check;) {
                const uint64_t value = std::stoull(check.substr(1));
                const uint64_t got = check[0] == '='   ? clock.Confirmed()
                                     : check[0] == '~' ? clock.Shown(now)
                                     : check[0] == '!' ? clock.Silent(now)
                                     : check[0] == 'd' ? clock.Dry()
                                                       : clock.AskDue(now);
                EXPECT_EQ(got, value) << check;
            }
        }
    }
}

// Device names are cut to 31 bytes for szPname, never inside a UTF-8 character.
TEST(DeviceNames, CutCleanly) {
    const std::pair<std::string, std::string> cases[] = {
        {"Карта: Выход на колонки", "Карта: Выход на к"},  // "о" would end at byte 32
        {"Audio 🎧🎧🎧🎧🎧🎧🎧: Main", "Audio 🎧🎧🎧🎧🎧🎧"},
        {"A very long card name here: and a long PCM", "A very long card name here: and"},
        {"", ""},
    };
    for (const auto& [full, cut] : cases) {
        char name[32];
        std::memset(name, 0x55, sizeof name);
        platform::CopyDeviceName(full, name);
        EXPECT_EQ(std::string(name), cut);
    }
}

// The widest row but the last gives way, cut in the middle by display columns (CJK: two).
TEST(StatusLine, FitsTheTerminalByDisplayColumns) {
    const std::vector<std::string> path = {"Null Output", "/home/ann/music/a long name.wav",
                                           "Stereo", "00:00:01:00"};
    const struct {
        std::vector<std::string> rows;
        int columns;
        std::string line;
    } cases[] = {
        {path, 80, "Null Output | /home/ann/music/a long name.wav | Stereo | 00:00:01:00"},
        {path, 50, "Null Output | /home/\u2026me.wav | Stereo | 00:00:01:00"},
        {{"D", "\u65e5\u672c\u8a9e\u306e\u6b4c.wav", "F", "5"},
         21,
         "D | \u65e5\u672c\u2026.wav | F | 5"},
        {{"Device", "File", "Format", "00:00:01:00"}, 10, "\u2026 | \u2026 | \u2026 "},
    };
    for (const auto& c : cases) {
        const std::string line = platform::FitStatusLine(c.rows, c.columns);
        EXPECT_EQ(line, c.line);
        EXPECT_LE(platform::DisplayColumns(line), c.columns) << line;
    }
}

}  // namespace
