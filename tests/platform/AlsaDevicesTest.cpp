// The ALSA card enumeration, fed with card and PCM descriptions: one device per playback PCM,
// "card: PCM", in card and device order, and names that still cut cleanly into szPname.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/waveout/DeviceList.h"
#include "platform/waveout/alsa/AlsaBackend.h"

namespace {

using platform::AlsaCardDescription;
using platform::AlsaDevice;

bool ValidUtf8(const char* text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    while (*p != 0) {
        const int length = *p < 0x80 ? 1 : (*p >> 5) == 6 ? 2 : (*p >> 4) == 14 ? 3 : 4;
        for (int i = 1; i < length; ++i) {
            if ((p[i] & 0xC0) != 0x80) {
                return false;
            }
        }
        p += length;
    }
    return true;
}

TEST(AlsaDevices, OnePerPlaybackPcmInCardAndDeviceOrder) {
    struct Case {
        const char* what;
        std::vector<AlsaCardDescription> cards;
        std::vector<AlsaDevice> expected;
    };
    const Case cases[] = {
        {"no cards", {}, {}},
        {"a card without playback", {{0, "USB Mic", {}}}, {}},
        {"one card",
         {{0, "HDA Intel PCH", {{0, "ALC892 Analog"}, {1, "ALC892 Digital"}}}},
         {{"HDA Intel PCH: ALC892 Analog", "plughw:0,0"},
          {"HDA Intel PCH: ALC892 Digital", "plughw:0,1"}}},
        {"cards and devices given out of order, with gaps",
         {{2, "Scarlett 18i20", {{3, "Out 7-8"}, {0, "Out 1-2"}}},
          {0, "HDA NVidia", {{9, "HDMI 3"}, {7, "HDMI 1"}}}},
         {{"HDA NVidia: HDMI 1", "plughw:0,7"},
          {"HDA NVidia: HDMI 3", "plughw:0,9"},
          {"Scarlett 18i20: Out 1-2", "plughw:2,0"},
          {"Scarlett 18i20: Out 7-8", "plughw:2,3"}}},
        {"empty descriptions", {{1, "", {{4, ""}}}}, {{"Card 1: Device 4", "plughw:1,4"}}},
    };
    for (const Case& c : cases) {
        const std::vector<AlsaDevice> devices = platform::AlsaPlaybackDevices(c.cards);
        ASSERT_EQ(devices.size(), c.expected.size()) << c.what;
        for (size_t i = 0; i < devices.size(); ++i) {
            EXPECT_EQ(devices[i].name, c.expected[i].name) << c.what;
            EXPECT_EQ(devices[i].target, c.expected[i].target) << c.what;
        }
    }
}

// Long names of several scripts are cut to 31 bytes, never inside a character.
TEST(AlsaDevices, LongUtf8NamesCutAtACharacterBoundary) {
    struct Case {
        std::string card;
        std::string pcm;
        std::string expected;  // szPname
    };
    const Case cases[] = {
        {"Ünterhaltungsgerät", "Ausgang", "Ünterhaltungsgerät: Ausgang"},
        {"Карта", "Выход на колонки", "Карта: Выход на к"},      // 30 bytes; "о" would end at 32
        {"サウンドカード", "出力端子", "サウンドカード: 出力"},  // 29 bytes; "端" would end at 32
        {"Audio 🎧🎧🎧🎧🎧🎧🎧", "Main", "Audio 🎧🎧🎧🎧🎧🎧"},               // 30 bytes; the next is 4 bytes
        {"A very long card name here", "and a long PCM", "A very long card name here: and"},
    };
    for (const Case& c : cases) {
        const std::vector<AlsaDevice> devices =
            platform::AlsaPlaybackDevices({{0, c.card, {{0, c.pcm}}}});
        ASSERT_EQ(devices.size(), 1u);
        EXPECT_EQ(devices[0].name, c.card + ": " + c.pcm);
        char name[32];
        std::memset(name, 0x55, sizeof name);
        platform::CopyDeviceName(devices[0].name, name);
        EXPECT_LE(std::strlen(name), 31u);
        EXPECT_TRUE(ValidUtf8(name)) << c.card;
        EXPECT_EQ(std::string(name), c.expected) << c.card;
    }
}

}  // namespace
